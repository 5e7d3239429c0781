#include "ensemble_streams.h"

namespace vxdelta {

bool WriteNestedSet(const StreamSet &element, StreamSet *accumulator) {
    size_t used = 0;
    for (size_t i = 0; i < kMaxStreamSetStreams; ++i) {
        if (element.stream(i).failed()) {
            return false;
        }
        if (element.stream(i).length() != 0) {
            used = i + 1;
        }
    }
    WriteStream &table = accumulator->stream(0);
    if (!table.writeSizeVarint(used)) {
        return false;
    }
    for (size_t i = 0; i < used; ++i) {
        if (!table.writeSizeVarint(element.stream(i).length())) {
            return false;
        }
    }
    for (size_t i = 0; i < used; ++i) {
        const WriteStream &source = element.stream(i);
        if (!accumulator->stream(i).write(source.data(), source.length())) {
            return false;
        }
    }
    return true;
}

bool ReadNestedSet(ReadStreamSet *accumulator, ReadStreamSet *element) {
    element->reset(kMaxStreamSetStreams);
    ReadStream *table = accumulator->stream(0);
    uint32_t used = 0;
    if (table == nullptr || !table->readVarint(&used) || used > kMaxStreamSetStreams ||
        used > accumulator->count()) {
        return false;
    }
    uint32_t lengths[kMaxStreamSetStreams] = {};
    for (uint32_t i = 0; i < used; ++i) {
        if (!table->readVarint(&lengths[i])) {
            return false;
        }
    }
    for (uint32_t i = 0; i < used; ++i) {
        if (!accumulator->stream(i)->readSlice(lengths[i], element->stream(i))) {
            return false;
        }
    }
    return true;
}

}  // namespace vxdelta
