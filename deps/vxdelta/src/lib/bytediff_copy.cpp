// A byte diff whose new data is one stretch of the old data: two control
// triples (move to the stretch, then take it with zero corrections).
#include <algorithm>
#include <cstdint>
#include <limits>

#include "bytediff.h"

namespace vxdelta {

namespace {

bool WriteTriple(WriteStream *control, int32_t x, int32_t y, int32_t z) {
    return control->writeSignedVarint(x) && control->writeSignedVarint(y) &&
           control->writeSignedVarint(z);
}

}  // namespace

bool WriteCopyByteDiff(size_t offset, size_t length, WriteStream *out) {
    constexpr size_t kLimit = std::numeric_limits<int32_t>::max();
    if (offset > kLimit || length > kLimit) {
        return false;
    }
    // No triple at all for empty new data: the applier reads none then.
    WriteStream control;
    if (length != 0 && (!WriteTriple(&control, 0, 0, static_cast<int32_t>(offset)) ||
                        !WriteTriple(&control, static_cast<int32_t>(length), 0, 0))) {
        return false;
    }
    if (!out->writeByte(kByteDiffUncompressed) || !out->writeSizeVarint(length) ||
        !out->writeSizeVarint(control.length()) || !out->writeSizeVarint(length) ||
        !out->writeSizeVarint(0) || !out->write(control.data(), control.length())) {
        return false;
    }
    uint8_t *corrections = out->extend(length);
    if (corrections == nullptr) {
        return false;
    }
    std::fill_n(corrections, length, uint8_t{0});
    return true;
}

}  // namespace vxdelta
