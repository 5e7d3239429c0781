// The byte diff: rebuilds new data from old data with control triples
// (x diff bytes added to old bytes, y extra bytes inserted, old position moved
// by z), a stream of correction bytes and a stream of inserted bytes.
//
// Layout: ["VXDIFF10" checksum] method(1 byte) new-size body, where method 0
// stores three lengths then the three streams, method 1 three LZMA2 sections
// and method 2 one LZMA2 section holding the method 0 body.
#pragma once

#include <cstddef>
#include <cstdint>

#include "streams.h"

namespace vxdelta {

enum ByteDiffMethod : uint8_t {
    kByteDiffUncompressed = 0,
    kByteDiffSectionPerStream = 1,
    kByteDiffSingleSection = 2,
};

// Appends the new data to out (which callers pass empty). The old data is
// old's remaining bytes; the diff is read from patch's position. With
// checkHeader the diff must start with the magic and its checksum must match
// the result. Never reads outside old, patch or the decoded buffers; returns
// false on any malformed input (out then holds a partial result to discard).
bool ApplyByteDiff(ReadStream old, ReadStream *patch, WriteStream *out, bool checkHeader);

// Appends a diff from old's to newData's remaining bytes to out, with the
// header when writeHeader is set and the body in the given method. Fails for
// inputs of 2^31 bytes or more, or when out fails.
bool GenerateByteDiff(ReadStream old, ReadStream newData, WriteStream *out, bool writeHeader,
                      ByteDiffMethod method);

// Appends to out an uncompressed diff without header (method 0, as
// GenerateByteDiff writes it with writeHeader false) that rebuilds length
// bytes as a copy of old bytes [offset, offset + length): for new data known
// to lie verbatim in the old data, found without a search. Fails when offset
// or length is 2^31 or more, or when out fails.
bool WriteCopyByteDiff(size_t offset, size_t length, WriteStream *out);

}  // namespace vxdelta
