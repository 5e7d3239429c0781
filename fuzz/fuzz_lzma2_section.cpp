// LZMA2 section decoding over arbitrary bytes; a success must account for
// exactly the stated size and never consume more than the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "lzma2_section.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vxdelta::ReadStream in(data, size);
    vxdelta::WriteStream out;
    if (vxdelta::DecodeLzma2Section(&in, &out) && in.remaining() > size) {
        std::abort();
    }
    return 0;
}
