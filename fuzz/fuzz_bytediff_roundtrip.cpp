// Generator round trip: a diff made from any old/new pair must rebuild new.
// The first two bytes split the input into old and new.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bytediff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) {
        return 0;
    }
    size_t oldSize = static_cast<size_t>(data[0]) | (static_cast<size_t>(data[1]) << 8);
    data += 2;
    size -= 2;
    if (oldSize > size) {
        oldSize = size;
    }
    const vxdelta::ReadStream old(data, oldSize);
    const vxdelta::ReadStream nw(data + oldSize, size - oldSize);
    vxdelta::WriteStream diff;
    if (!vxdelta::GenerateByteDiff(old, nw, &diff, true, vxdelta::kByteDiffUncompressed)) {
        std::abort();
    }
    vxdelta::ReadStream patch = diff.reader();
    vxdelta::WriteStream out;
    if (!vxdelta::ApplyByteDiff(old, &patch, &out, true) || out.length() != nw.remaining() ||
        (out.length() != 0 && std::memcmp(out.data(), nw.position(), out.length()) != 0)) {
        std::abort();
    }
    return 0;
}
