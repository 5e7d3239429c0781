#include "executable_images.h"

namespace vxdelta {

namespace {

constexpr uint32_t kFatMagic = 0xCAFEBABE;
constexpr size_t kMinFatFileSize = 4096;
constexpr uint32_t kMaxFatArchitectures = 8;
constexpr size_t kFatHeaderSize = 8;
constexpr size_t kFatArchSize = 20;

uint32_t BigEndian32(const uint8_t *p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

}  // namespace

std::vector<ByteRange> CandidateImageRanges(const uint8_t *data, size_t size) {
    std::vector<ByteRange> ranges;
    const bool fat = size >= kMinFatFileSize && BigEndian32(data) == kFatMagic;
    const uint32_t archs = fat ? BigEndian32(data + 4) : 0;
    if (fat && archs <= kMaxFatArchitectures) {
        // 8 + 8 * 20 bytes of header always fit in the minimum size.
        for (uint32_t i = 0; i < archs; ++i) {
            const uint8_t *arch = data + kFatHeaderSize + i * kFatArchSize;
            const uint32_t offset = BigEndian32(arch + 8);
            const uint32_t length = BigEndian32(arch + 12);
            if (offset <= size && length <= size - offset) {
                ranges.push_back({offset, length});
            }
        }
        return ranges;
    }
    ranges.push_back({0, size});
    return ranges;
}

}  // namespace vxdelta
