// Hand-made ensemble patches for the apply tests: every field can be set on
// its own, so each check of the applier can be reached with the others
// passing.
#pragma once

#include <cstdint>
#include <vector>

#include "test_support.h"

namespace ensemble_test {

using vxdelta_test::Bytes;

struct HandPatch {
    uint32_t magic = 0;
    uint32_t version = 0;
    uint32_t sourceChecksum = 0;
    uint32_t targetChecksum = 0;
    uint32_t finalInputSize = 0;
    // Body streams 0 to 3 in order, then any extra streams.
    std::vector<Bytes> body;

    // The header varints alone.
    Bytes header() const;
    // The patch file: the header, then the body set in one LZMA2 section.
    Bytes bytes() const;
    // The header followed by an LZMA2 section holding content instead of the
    // body set.
    Bytes withSectionContent(const Bytes &content) const;
};

// An uncompressed byte diff from one byte sequence to another, as the
// engine's generator writes it.
Bytes DiffOf(const Bytes &from, const Bytes &to);

// A serialised set of ten streams, the first ones given.
Bytes FlatSet(std::vector<Bytes> streams);

// The flat set of the predicted parameters of n elements.
Bytes PredictedParameters(size_t n);

// Varints of the transformation descriptions: the count, the kinds, then
// each element's base offset and length.
struct ElementDescription {
    uint32_t kind;
    uint32_t offset;
    uint32_t length;
};
Bytes Descriptions(const std::vector<ElementDescription> &elements);

// A consistent patch without elements that turns old into newData.
HandPatch PlainPatch(const Bytes &old, const Bytes &newData);

// A patch whose descriptions name the given elements and whose parameter
// correction yields the predicted parameters unchanged; the element and final
// corrections are those of a patch without elements.
HandPatch ElementPatch(const Bytes &old, const Bytes &newData,
                       const std::vector<ElementDescription> &elements);

// The number of elements a patch describes, or -1 when its body cannot be
// read.
int ElementsIn(const Bytes &patch);

}  // namespace ensemble_test
