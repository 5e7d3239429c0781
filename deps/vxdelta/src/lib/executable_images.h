// Internal: where a file's executable images may lie. A universal Mach-O
// file is split into its slices; any other file is one candidate image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxdelta {

struct ByteRange {
    size_t offset;
    size_t length;
};

// The slices of a universal Mach-O file (at least 4096 bytes, magic
// 0xCAFEBABE, at most 8 architectures) that lie within the file, in header
// order; for any other file the whole file.
std::vector<ByteRange> CandidateImageRanges(const uint8_t *data, size_t size);

}  // namespace vxdelta
