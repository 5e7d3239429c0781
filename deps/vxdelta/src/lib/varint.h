// Little-endian base-128 varints (unsigned LEB128, at most 5 bytes) and their
// zigzag signed form. Decoding is bounded by an end pointer and never moves
// the cursor on failure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vxdelta {

constexpr size_t kMaxVarintBytes = 5;

// Decodes one varint from [*cursor, end). On success stores the value and
// advances *cursor; fails if the input ends inside the number or the fifth
// byte has its continuation bit set. Bits of the fifth byte above bit 31 are
// dropped.
inline bool DecodeVarint(const uint8_t **cursor, const uint8_t *end, uint32_t *value) {
    const uint8_t *p = *cursor;
    uint32_t result = 0;
    for (unsigned shift = 0; shift < 35; shift += 7) {
        if (p == end) {
            return false;
        }
        const uint8_t byte = *p++;
        result |= static_cast<uint32_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            *value = result;
            *cursor = p;
            return true;
        }
    }
    return false;
}

// Writes the shortest encoding of value to out (room for kMaxVarintBytes)
// and returns the number of bytes written.
inline size_t EncodeVarint(uint32_t value, uint8_t *out) {
    size_t n = 0;
    while (value >= 0x80) {
        out[n++] = static_cast<uint8_t>(value | 0x80);
        value >>= 7;
    }
    out[n++] = static_cast<uint8_t>(value);
    return n;
}

// Zigzag form: 0, -1, 1, -2, 2 map to 0, 1, 2, 3, 4.
inline uint32_t ZigzagEncode(int32_t value) {
    return (static_cast<uint32_t>(value) << 1) ^ static_cast<uint32_t>(value >> 31);
}

inline int32_t ZigzagDecode(uint32_t value) {
    return static_cast<int32_t>((value >> 1) ^ (0u - (value & 1u)));
}

}  // namespace vxdelta
