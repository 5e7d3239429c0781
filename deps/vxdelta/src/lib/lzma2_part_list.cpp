#include "lzma2_part_list.h"

#include "bytediff.h"
#include "bytediff_format.h"

namespace vxdelta {

void Lzma2PartList::add(const ByteSpan &piece, Lzma2Search search) {
    if (piece.size == 0) {
        return;
    }
    if (m_Runs.empty() || m_Runs.back().search != search) {
        m_Runs.push_back({{}, search});
    }
    m_Runs.back().pieces.push_back(piece);
}

void Lzma2PartList::addByteDiff(const uint8_t *diff, size_t size, Lzma2Search corrections) {
    ReadStream in(diff, size);
    uint32_t newSize = 0;
    ByteDiffStreams streams;
    if (!ReadUncompressedByteDiff(&in, &newSize, &streams) || !in.empty()) {
        add({diff, size}, Lzma2Search::kThorough);
        return;
    }
    const uint8_t *correctionStart = streams.corrections.position();
    add({diff, static_cast<size_t>(correctionStart - diff)}, Lzma2Search::kThorough);
    add({correctionStart, streams.corrections.remaining()}, corrections);
    add({streams.inserted.position(), streams.inserted.remaining()}, Lzma2Search::kThorough);
}

bool Lzma2PartList::encode(WriteStream *out) const {
    std::vector<Lzma2Part> parts;
    parts.reserve(m_Runs.size());
    for (const Run &run : m_Runs) {
        parts.push_back({run.pieces.data(), run.pieces.size(), run.search});
    }
    return EncodeLzma2Parts(parts.data(), parts.size(), out);
}

}  // namespace vxdelta
