#include <cstring>
#include <limits>

#include "bytediff.h"
#include "bytediff_format.h"
#include "checksum.h"
#include "engine_log.h"
#include "lzma2_section.h"

namespace vxdelta {

namespace {

// The three streams of a diff body; for methods 1 and 2 they view buffers
// that this object owns for the duration of one apply.
// dst[i] = a[i] + b[i] modulo 256, eight bytes per step: the low seven bits
// of every byte are added with their carries kept inside the byte, and the
// top bits by exclusive or. dst may lie on or before a within the same
// buffer (each word is read before the word at dst is written), never after.
void AddBytes(uint8_t *dst, const uint8_t *a, const uint8_t *b, size_t n) {
    constexpr uint64_t kTopBits = 0x8080808080808080u;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x = 0;
        uint64_t y = 0;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        const uint64_t sum = ((x & ~kTopBits) + (y & ~kTopBits)) ^ ((x ^ y) & kTopBits);
        std::memcpy(dst + i, &sum, 8);
    }
    for (; i < n; ++i) {
        dst[i] = static_cast<uint8_t>(a[i] + b[i]);
    }
}

struct DiffBody {
    ReadStream control;
    ReadStream diff;
    ReadStream extra;
    WriteStream buffers[3];
};

bool SplitUncompressedBody(ReadStream *source, DiffBody *body) {
    ByteDiffStreams streams;
    if (!ReadByteDiffStreams(source, &streams)) {
        return false;
    }
    body->control = streams.control;
    body->diff = streams.corrections;
    body->extra = streams.inserted;
    return true;
}

bool ReadBody(int method, ReadStream *patch, DiffBody *body) {
    if (method == kByteDiffUncompressed) {
        return SplitUncompressedBody(patch, body);
    }
    if (method == kByteDiffSingleSection) {
        if (!DecodeLzma2Section(patch, &body->buffers[0])) {
            return false;
        }
        ReadStream inner = body->buffers[0].reader();
        return SplitUncompressedBody(&inner, body);
    }
    ReadStream *targets[3] = {&body->control, &body->diff, &body->extra};
    for (int i = 0; i < 3; ++i) {
        if (!DecodeLzma2Section(patch, &body->buffers[i])) {
            return false;
        }
        *targets[i] = body->buffers[i].reader();
    }
    return true;
}

bool ReadHeader(ReadStream *patch, uint32_t *checksum) {
    char magic[kByteDiffMagicSize];
    if (!patch->readBytes(magic, sizeof magic)) {
        return false;
    }
    if (std::memcmp(magic, kByteDiffMagic, kByteDiffMagicSize) != 0) {
        return Fail("Corrupt patch header");
    }
    if (!patch->readVarint(checksum)) {
        return Fail("Could not read crc");
    }
    return true;
}

// The control loop, writing the new data from dst on: room for newSize
// bytes, or for all the diff and extra bytes if they are fewer, since every
// new byte takes one of them. Every count is checked against what its
// stream holds before a byte is touched; old ranges are checked in 64 bits,
// which rejects exactly what the 32-bit sum would make negative or too
// large. Sets *produced to the bytes written, also on failure.
bool RunControl(const uint8_t *old, size_t oldSize, DiffBody *body, uint8_t *dst, uint32_t newSize,
                size_t *produced) {
    int32_t oldPos = 0;
    size_t &length = *produced;
    length = 0;
    while (length < newSize) {
        int32_t x = 0;
        int32_t y = 0;
        int32_t z = 0;
        if (!body->control.readSignedVarint(&x) || !body->control.readSignedVarint(&y) ||
            !body->control.readSignedVarint(&z)) {
            return Fail("Corrupt patch reading control");
        }
        if (x < 0 || static_cast<size_t>(x) > body->diff.remaining()) {
            return false;
        }
        if (oldPos < 0 || static_cast<int64_t>(oldPos) + x > static_cast<int64_t>(oldSize)) {
            return false;
        }
        if (static_cast<size_t>(x) > newSize - length) {
            return Fail("Corrupt patch");
        }
        AddBytes(dst + length, body->diff.position(), old + oldPos, static_cast<size_t>(x));
        body->diff.skip(static_cast<size_t>(x));
        length += static_cast<size_t>(x);
        if (static_cast<int64_t>(length) + y > static_cast<int64_t>(newSize)) {
            return Fail("Corrupt patch");
        }
        if (y < 0 || static_cast<size_t>(y) > body->extra.remaining()) {
            return false;
        }
        // The in-place build below writes just behind the extra bytes it reads.
        std::memmove(dst + length, body->extra.position(), static_cast<size_t>(y));
        body->extra.skip(static_cast<size_t>(y));
        length += static_cast<size_t>(y);
        oldPos = static_cast<int32_t>(static_cast<uint32_t>(oldPos) + static_cast<uint32_t>(x) +
                                      static_cast<uint32_t>(z));
    }
    return true;
}

// Builds the new data inside the decoded body of a single-section diff,
// which then becomes the output: no second buffer of the new data's size.
// The body holds the lengths, control, diff and extra bytes in this order
// and every new byte takes one diff or one extra byte. Written from
// `extra length` bytes before the diff bytes on, the new data never
// overtakes what is still to be read: after p new bytes, e of them extra
// bytes, the next write is at diffStart - E + p, the next diff read at
// diffStart + p - e (not before it, as e <= E) and the next extra read at
// diffStart + D + e (after it, as p - e <= D). The control bytes, which the
// new data may cover, are read from a copy. The body is first moved up if
// it lacks that much room before the diff bytes.
bool BuildInPlace(const ReadStream &old, DiffBody *body, uint32_t newSize, WriteStream *out) {
    WriteStream &buffer = body->buffers[0];
    const size_t controlLength = body->control.remaining();
    const size_t diffLength = body->diff.remaining();
    const size_t extraLength = body->extra.remaining();
    size_t diffStart = static_cast<size_t>(body->diff.position() - buffer.data());
    if (!body->buffers[1].write(body->control.position(), controlLength)) {
        return false;
    }
    body->control = body->buffers[1].reader();
    if (extraLength > diffStart) {
        const size_t shift = extraLength - diffStart;
        const size_t length = buffer.length();
        if (buffer.extend(shift) == nullptr) {
            return false;
        }
        std::memmove(buffer.data() + shift, buffer.data(), length);
        diffStart += shift;
    }
    body->diff = ReadStream(buffer.data() + diffStart, diffLength);
    body->extra = ReadStream(buffer.data() + diffStart + diffLength, extraLength);
    uint8_t *dst = buffer.data() + diffStart - extraLength;
    size_t produced = 0;
    if (!RunControl(old.position(), old.remaining(), body, dst, newSize, &produced)) {
        return false;
    }
    std::memmove(buffer.data(), dst, produced);
    buffer.truncate(produced);
    *out = std::move(buffer);
    return true;
}

// Builds the new data at the end of out.
bool BuildAppended(const ReadStream &old, DiffBody *body, uint32_t newSize, WriteStream *out) {
    // Every new byte comes from the diff or the extra stream, so a larger
    // stated size can never be reached: reserving it would only let a corrupt
    // diff claim memory it cannot use.
    const uint64_t reachable =
        static_cast<uint64_t>(body->diff.remaining()) + body->extra.remaining();
    const size_t start = out->length();
    const auto room = static_cast<size_t>(reachable < newSize ? reachable : newSize);
    if (!out->reserve(start + room)) {
        return false;
    }
    size_t produced = 0;
    const bool ok =
        RunControl(old.position(), old.remaining(), body, out->data() + start, newSize, &produced);
    out->extend(produced);
    return ok;
}

}  // namespace

bool ReadByteDiffStreams(ReadStream *source, ByteDiffStreams *streams) {
    uint32_t lengths[3] = {};
    for (uint32_t &length : lengths) {
        if (!source->readVarint(&length)) {
            return false;
        }
    }
    return source->readSlice(lengths[0], &streams->control) &&
           source->readSlice(lengths[1], &streams->corrections) &&
           source->readSlice(lengths[2], &streams->inserted);
}

bool ReadUncompressedByteDiff(ReadStream *source, uint32_t *newSize, ByteDiffStreams *streams) {
    uint8_t method = 0xFF;
    return source->readBytes(&method, 1) && method == kByteDiffUncompressed &&
           source->readVarint(newSize) && ReadByteDiffStreams(source, streams);
}

bool ApplyByteDiff(ReadStream old, ReadStream *patch, WriteStream *out, bool checkHeader) {
    uint32_t checksum = 0;
    if (checkHeader && !ReadHeader(patch, &checksum)) {
        return false;
    }
    uint8_t method = 0;
    if (!patch->readBytes(&method, 1)) {
        return false;
    }
    if (method > kMaxByteDiffMethod) {
        return Fail("Invalid compression method");
    }
    uint32_t newSize = 0;
    if (!patch->readVarint(&newSize)) {
        return false;
    }
    DiffBody body;
    if (!ReadBody(method, patch, &body)) {
        return false;
    }
    const size_t start = out->length();
    const bool inPlace = method == kByteDiffSingleSection && start == 0 && !out->failed();
    if (!(inPlace ? BuildInPlace(old, &body, newSize, out)
                  : BuildAppended(old, &body, newSize, out))) {
        return false;
    }
    if (checkHeader && FileChecksum(out->data() + start, newSize) != checksum) {
        return Fail("crc mismatch");
    }
    return true;
}

}  // namespace vxdelta
