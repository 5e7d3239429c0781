// The engine's file checksum: the CRC-32 register (reflected polynomial
// 0xEDB88320, initial value all ones) after the last byte, without the final
// XOR; i.e. the complement of the usual CRC-32. The empty input gives
// 0xFFFFFFFF. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vxdelta {

uint32_t FileChecksum(const uint8_t *data, size_t size);

}  // namespace vxdelta
