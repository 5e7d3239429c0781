// Byte-diff apply over arbitrary bytes: the first byte picks the header
// check, the next two the old data's length; the rest is old data then diff.
#include <cstddef>
#include <cstdint>

#include "bytediff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const bool checkHeader = (data[0] & 1) != 0;
    size_t oldSize = static_cast<size_t>(data[1]) | (static_cast<size_t>(data[2]) << 8);
    data += 3;
    size -= 3;
    if (oldSize > size) {
        oldSize = size;
    }
    vxdelta::ReadStream patch(data + oldSize, size - oldSize);
    vxdelta::WriteStream out;
    vxdelta::ApplyByteDiff(vxdelta::ReadStream(data, oldSize), &patch, &out, checkHeader);
    return 0;
}
