// Internal (generators only): pieces of data to compress as one LZMA2
// section, grouped into runs that one search serves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lzma2_section.h"
#include "streams.h"

namespace vxdelta {

class Lzma2PartList {
public:
    // Appends a piece (empty ones are dropped); a piece with the same search
    // as the one before joins its run.
    void add(const ByteSpan &piece, Lzma2Search search);

    // Appends an uncompressed byte diff (method, new size and the three
    // stream lengths, control triples, corrections, inserted bytes). The
    // corrections, mostly zeros with sparse differences and as long as the
    // new data, take corrections (kSparse or kSparseOptimal, whose small
    // window needs little memory); the rest takes preset 9. Data of any
    // other form is one preset-9 piece.
    void addByteDiff(const uint8_t *diff, size_t size, Lzma2Search corrections);

    // Encodes the runs as one section (each run is a part) appended to out.
    bool encode(WriteStream *out) const;

private:
    struct Run {
        std::vector<ByteSpan> pieces;
        Lzma2Search search;
    };
    std::vector<Run> m_Runs;
};

}  // namespace vxdelta
