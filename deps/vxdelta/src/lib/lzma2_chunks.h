// Internal: a walk over the chunk headers of a raw LZMA2 stream, without
// decoding. It splits a stream into its dictionary-reset segments: each
// segment starts with a chunk that resets the dictionary and can be decoded
// by a fresh decoder, independently of everything before it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vxdelta {

struct Lzma2Segment {
    size_t inOffset = 0;  // first byte of its first chunk
    size_t inLength = 0;  // through its last chunk (and the end marker, if last)
    uint64_t outOffset = 0;
    uint64_t outLength = 0;
    bool last = false;  // ends with the end marker
};

class Lzma2SegmentWalk {
public:
    // in must stay valid while the walk is used.
    Lzma2SegmentWalk(const uint8_t *in, size_t size) : m_In(in), m_Size(size) {}

    // The next segment. False once the last segment has been returned, or if
    // a chunk header is invalid or runs past the input (malformed() tells).
    bool next(Lzma2Segment *segment);
    bool malformed() const { return m_Malformed; }

    // True if the stream is well framed: a sequence of chunks whose stated
    // sizes lie within the input, ending with the end marker, that decodes
    // to exactly outSize bytes; *length is then the stream's length through
    // the end marker. The chunk contents are not checked.
    static bool wellFramed(const uint8_t *in, size_t size, uint64_t outSize, size_t *length);

private:
    struct Chunk {
        size_t length = 0;      // header and data
        uint32_t unpacked = 0;  // bytes it decodes to
        bool resets = false;    // resets the dictionary
        bool end = false;       // the end marker
    };
    bool readChunk(size_t at, Chunk *chunk) const;

    const uint8_t *m_In;
    size_t m_Size;
    size_t m_Pos = 0;
    uint64_t m_Out = 0;
    bool m_Done = false;
    bool m_Malformed = false;
};

}  // namespace vxdelta
