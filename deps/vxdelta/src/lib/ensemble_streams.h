// Internal: stream sets nested inside the streams of another set, as the
// ensemble patch keeps the per-element data of all its elements. Each
// element's portion starts in stream 0 of the accumulating set with a table:
// c (one past the last non-empty stream of the element) and c lengths; the
// element's stream i follows in the accumulating set's stream i.
#pragma once

#include "streams.h"

namespace vxdelta {

// Appends element's table to accumulator's stream 0 and element's streams to
// the accumulator's streams of the same index. False when a write fails or
// either set has failed streams.
bool WriteNestedSet(const StreamSet &element, StreamSet *accumulator);

// Cuts the next element from accumulator into element (ten streams, those
// beyond c empty). False, without touching a stream the accumulator does not
// have, when stream 0 is missing or truncated, c exceeds 10, c names a stream
// beyond the accumulator's count, or a stream holds fewer bytes than its
// length.
bool ReadNestedSet(ReadStreamSet *accumulator, ReadStreamSet *element);

}  // namespace vxdelta
