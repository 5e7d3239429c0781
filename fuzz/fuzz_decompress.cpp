// The compressed file container over arbitrary bytes, through the same
// in-memory core as DecompressFile.
#include <cstddef>
#include <cstdint>

#include "container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vxdelta::WriteStream out;
    vxdelta::DecompressBuffer(data, size, &out);
    return 0;
}
