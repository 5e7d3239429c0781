#include "lzma2_part_list.h"

#include "bytediff.h"

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
    uint8_t method = 0xFF;
    // New size, then the lengths of the control, correction and inserted
    // streams.
    uint32_t sizes[4] = {};
    bool ok = in.readBytes(&method, 1) && method == kByteDiffUncompressed;
    for (uint32_t &field : sizes) {
        ok = ok && in.readVarint(&field);
    }
    if (!ok || uint64_t{sizes[1]} + sizes[2] + sizes[3] != in.remaining()) {
        add({diff, size}, Lzma2Search::kThorough);
        return;
    }
    const size_t head = size - in.remaining();
    const uint8_t *start = diff + head + sizes[1];
    add({diff, head + sizes[1]}, Lzma2Search::kThorough);
    add({start, sizes[2]}, corrections);
    add({start + sizes[2], sizes[3]}, Lzma2Search::kThorough);
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
