// Internal: little-endian reads from image bytes for the disassemblers. The
// caller has checked that the bytes lie inside the image; unaligned
// positions are fine.
#pragma once

#include <cstdint>

namespace vxdelta {

inline uint16_t ReadLe16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t ReadLe32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t ReadLe64(const uint8_t *p) {
    return static_cast<uint64_t>(ReadLe32(p)) | (static_cast<uint64_t>(ReadLe32(p + 4)) << 32);
}

// a + b, or UINT64_MAX when the sum does not fit: range ends computed from
// untrusted offsets and sizes never wrap around.
inline uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

}  // namespace vxdelta
