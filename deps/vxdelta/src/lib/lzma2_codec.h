// Internal: the liblzma settings shared by the LZMA2 section's decoder and
// encoder.
#pragma once

#include <lzma.h>

#include <cstdint>

namespace vxdelta {

constexpr uint32_t kLzma2MaxProperty = 40;
constexpr uint32_t kLzma2MinDictionary = 4096;

// Dictionary size that property byte p (0 to 40) stands for.
inline uint64_t Lzma2DictionarySize(uint32_t p) {
    // Bytes above the largest valid property are refused by the decoder; they
    // must not reach the shift below, which would exceed 64 bits.
    if (p >= kLzma2MaxProperty) {
        return 0xFFFFFFFFu;
    }
    return static_cast<uint64_t>(2 | (p & 1)) << (p / 2 + 11);
}

// A dictionary larger than the data it serves only costs memory: the
// smallest size a property byte can express that still covers dataSize, at
// most limit.
inline uint32_t FittingDictionarySize(uint64_t dataSize, uint64_t limit) {
    for (uint32_t p = 0; p < kLzma2MaxProperty; ++p) {
        const uint64_t size = Lzma2DictionarySize(p);
        if (size >= dataSize || size >= limit) {
            return static_cast<uint32_t>(size < limit ? size : limit);
        }
    }
    return static_cast<uint32_t>(limit);
}

}  // namespace vxdelta
