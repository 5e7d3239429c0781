// Internal: constants shared by the byte diff's reader and writer.
#pragma once

#include <cstddef>

namespace vxdelta {

constexpr char kByteDiffMagic[] = "VXDIFF10";
constexpr size_t kByteDiffMagicSize = 8;
constexpr int kMaxByteDiffMethod = 2;

}  // namespace vxdelta
