#include "lzma2_chunks.h"

namespace vxdelta {

namespace {

constexpr uint8_t kEndMarker = 0x00;
constexpr uint8_t kStoredWithReset = 0x01;
constexpr uint8_t kStored = 0x02;
constexpr uint8_t kLzmaChunk = 0x80;
constexpr uint8_t kLzmaWithProperties = 0xC0;
constexpr uint8_t kLzmaWithDictionaryReset = 0xE0;
constexpr size_t kStoredHeader = 3;
constexpr size_t kLzmaHeader = 5;

uint32_t BigEndian16(const uint8_t *p) {
    return (static_cast<uint32_t>(p[0]) << 8) | p[1];
}

}  // namespace

bool Lzma2SegmentWalk::readChunk(size_t at, Chunk *chunk) const {
    if (at >= m_Size) {
        return false;
    }
    const uint8_t control = m_In[at];
    const size_t left = m_Size - at;
    size_t header = 0;
    size_t data = 0;
    if (control == kEndMarker) {
        *chunk = Chunk{1, 0, false, true};
        return true;
    }
    if (control == kStoredWithReset || control == kStored) {
        header = kStoredHeader;
        if (left < header) {
            return false;
        }
        chunk->unpacked = BigEndian16(m_In + at + 1) + 1;
        data = chunk->unpacked;
    } else if (control >= kLzmaChunk) {
        header = kLzmaHeader + (control >= kLzmaWithProperties ? 1 : 0);
        if (left < header) {
            return false;
        }
        chunk->unpacked =
            ((static_cast<uint32_t>(control & 0x1F) << 16) | BigEndian16(m_In + at + 1)) + 1;
        data = BigEndian16(m_In + at + 3) + 1;
    } else {
        return false;
    }
    if (data > left - header) {
        return false;
    }
    chunk->length = header + data;
    chunk->resets = control == kStoredWithReset || control >= kLzmaWithDictionaryReset;
    chunk->end = false;
    return true;
}

bool Lzma2SegmentWalk::next(Lzma2Segment *segment) {
    if (m_Done) {
        return false;
    }
    *segment = Lzma2Segment{m_Pos, 0, m_Out, 0, false};
    for (bool first = true;; first = false) {
        Chunk chunk;
        if (!readChunk(m_Pos, &chunk)) {
            m_Done = true;
            m_Malformed = true;
            return false;
        }
        if (chunk.resets && !first) {
            break;
        }
        m_Pos += chunk.length;
        m_Out += chunk.unpacked;
        if (chunk.end) {
            m_Done = true;
            segment->last = true;
            break;
        }
    }
    segment->inLength = m_Pos - segment->inOffset;
    segment->outLength = m_Out - segment->outOffset;
    return true;
}

bool Lzma2SegmentWalk::wellFramed(const uint8_t *in, size_t size, uint64_t outSize,
                                  size_t *length) {
    Lzma2SegmentWalk walk(in, size);
    Lzma2Segment segment;
    while (walk.next(&segment)) {
        if (segment.outOffset + segment.outLength > outSize) {
            return false;
        }
        if (segment.last) {
            *length = segment.inOffset + segment.inLength;
            return segment.outOffset + segment.outLength == outSize;
        }
    }
    return false;
}

}  // namespace vxdelta
