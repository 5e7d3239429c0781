// The LZMA2 section: a dictionary property byte, the exact unpacked size as a
// varint, then a raw LZMA2 chunk stream ending with its end marker (0x00).
// The packed length is not stored; decoding consumes exactly up to and
// including the end marker.
#pragma once

#include <cstddef>
#include <cstdint>

#include "streams.h"

namespace vxdelta {

// Result codes carried in "Error uncompressing data N".
enum Lzma2DecodeCode : int {
    kLzma2EndedEarly = 0,   // end marker before the stated size
    kLzma2CorruptData = 1,  // malformed chunks, or data beyond the stated size
    kLzma2OutOfMemory = 2,  // the decoder could not allocate
    kLzma2BadProperty = 4,  // property byte above 40
    kLzma2InputEnded = 6,   // input ended before the end marker
};

// Decodes one section from in, appending exactly the unpacked size to out.
// On success in has advanced past the end marker. Logs its own message and
// returns false on failure (in does not move; out keeps its length).
bool DecodeLzma2Section(ReadStream *in, WriteStream *out);

// A piece of the data to encode; pieces are encoded as if concatenated.
struct ByteSpan {
    const uint8_t *data;
    size_t size;
};

// Encodes the concatenation of the pieces as one section appended to out
// (preset 9, dictionary no larger than the data). Logs "Error
// Lzma2Enc_SetProps" or "Error Lzma2Enc_Encode" on failure.
bool EncodeLzma2Section(const ByteSpan *pieces, size_t count, WriteStream *out);

inline bool EncodeLzma2Section(const uint8_t *data, size_t size, WriteStream *out) {
    const ByteSpan piece{data, size};
    return EncodeLzma2Section(&piece, 1, out);
}

}  // namespace vxdelta
