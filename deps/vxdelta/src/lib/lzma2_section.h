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

// Told by a decoder that it will not read the input before a position
// again, so that the owner of file-backed input may drop those pages.
class InputReleaser {
public:
    virtual ~InputReleaser() = default;
    virtual void releaseBefore(const uint8_t *position) = 0;
};

// Decodes one section from in, appending exactly the unpacked size to out.
// On success in has advanced past the end marker. Logs its own message and
// returns false on failure (in does not move; out keeps its length). The
// output buffer is reserved once, for the unpacked size and a few bytes of
// slack, and is all the memory the decoded bytes take: a dictionary-reset
// segment of at least 1 MiB that fits in the declared dictionary is decoded
// with the output as the decoder's dictionary. release, if given, hears of
// input that this decode will not read again; a section that turns out not
// to decode is read once more from its start.
bool DecodeLzma2Section(ReadStream *in, WriteStream *out, InputReleaser *release = nullptr);

// A piece of the data to encode; pieces are encoded as if concatenated.
struct ByteSpan {
    const uint8_t *data;
    size_t size;
};

// How the encoder searches; the section format does not depend on it.
// kThorough is preset 9 as it is. kShallow cuts preset 9's binary-tree
// search at 20 nodes. kSparse is for data that is mostly zeros with sparse
// corrections (the byte diff's correction stream): a greedy parse over a
// hash chain searched 1500 deep within a 16 KiB window, literals keyed by
// position modulo 4. On such data a small window loses next to nothing, and
// this parse runs about three times faster than kShallow for about 3% more
// size; on other data it compresses noticeably worse. kSparseOptimal keeps
// kSparse's window and literal context with preset 9's optimal parse over a
// binary tree searched 200 deep: on the corrections of executables' encoded
// programs about 6 % smaller than kSparse, at several times its time.
enum class Lzma2Search { kThorough, kShallow, kSparse, kSparseOptimal };

// A run of pieces that one search serves.
struct Lzma2Part {
    const ByteSpan *pieces;
    size_t count;
    Lzma2Search search;
};

// Encodes the concatenation of all parts' pieces as one section appended to
// out. Each part starts with a dictionary reset (it cannot refer back into
// the parts before it) and is encoded with its own search, within a
// dictionary no larger than its data; large parts are split in two. The
// pieces are encoded on two threads when there is more than one. Logs
// "Error Lzma2Enc_SetProps" or "Error Lzma2Enc_Encode" on failure.
bool EncodeLzma2Parts(const Lzma2Part *parts, size_t count, WriteStream *out);

// One part: the concatenation of the pieces with one search.
inline bool EncodeLzma2Section(const ByteSpan *pieces, size_t count, WriteStream *out,
                               Lzma2Search search = Lzma2Search::kThorough) {
    const Lzma2Part part{pieces, count, search};
    return EncodeLzma2Parts(&part, 1, out);
}

inline bool EncodeLzma2Section(const uint8_t *data, size_t size, WriteStream *out,
                               Lzma2Search search = Lzma2Search::kThorough) {
    const ByteSpan piece{data, size};
    return EncodeLzma2Section(&piece, 1, out, search);
}

}  // namespace vxdelta
