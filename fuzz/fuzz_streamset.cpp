// Stream set parsing: every accepted set must describe slices that cover the
// input exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vxdelta::ReadStreamSet set;
    if (!set.init(data, size)) {
        return 0;
    }
    size_t total = 0;
    for (size_t i = 0; i < set.count(); ++i) {
        vxdelta::ReadStream *stream = set.stream(i);
        total += stream->remaining();
        uint32_t value = 0;
        while (stream->readVarint(&value)) {
        }
    }
    if (total > size || set.stream(set.count()) != nullptr) {
        std::abort();
    }
    return 0;
}
