// Internal: constants and the body layout shared by the byte diff's readers
// and writer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "streams.h"

namespace vxdelta {

constexpr char kByteDiffMagic[] = "VXDIFF10";
constexpr size_t kByteDiffMagicSize = 8;
constexpr int kMaxByteDiffMethod = 2;

// The three streams of a byte diff body, in their order in the diff.
struct ByteDiffStreams {
    ReadStream control;      // control triples
    ReadStream corrections;  // bytes added to the old data
    ReadStream inserted;     // bytes taken as they are
};

// Reads the three stream lengths of an uncompressed body and the streams
// they delimit, leaving source after the last one.
bool ReadByteDiffStreams(ReadStream *source, ByteDiffStreams *streams);

// Reads a headerless byte diff stored uncompressed: the method (which must
// be kByteDiffUncompressed), the new size and the body's streams.
bool ReadUncompressedByteDiff(ReadStream *source, uint32_t *newSize, ByteDiffStreams *streams);

}  // namespace vxdelta
