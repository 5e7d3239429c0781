// LZMA2 section encoding (generators only): liblzma's raw LZMA2 encoder at
// preset 9, with the dictionary shrunk to the data size.
#include <lzma.h>

#include "engine_log.h"
#include "lzma2_codec.h"
#include "lzma2_section.h"

namespace vxdelta {

namespace {

// Worst case of LZMA2: stored chunks of 64 KiB with a 3-byte header each,
// plus the end marker; the slack covers the first chunk's properties.
size_t EncodedBound(size_t size) {
    return size + (size / 65536 + 1) * 3 + 64;
}

class RawLzma2Encoder {
public:
    ~RawLzma2Encoder() { lzma_end(&m_Stream); }
    lzma_stream *handle() { return &m_Stream; }

    // Feeds one piece; with finish set, also flushes and writes the end marker.
    bool feed(const ByteSpan &piece, bool finish) {
        // liblzma reports a second call without progress as an error.
        if (!finish && piece.size == 0) {
            return true;
        }
        m_Stream.next_in = piece.data;
        m_Stream.avail_in = piece.size;
        const lzma_action action = finish ? LZMA_FINISH : LZMA_RUN;
        for (;;) {
            const lzma_ret ret = lzma_code(&m_Stream, action);
            if (finish && ret == LZMA_STREAM_END) {
                return true;
            }
            if (ret != LZMA_OK || m_Stream.avail_out == 0) {
                return false;
            }
            if (!finish && m_Stream.avail_in == 0) {
                return true;
            }
        }
    }

private:
    lzma_stream m_Stream = LZMA_STREAM_INIT;
};

}  // namespace

bool EncodeLzma2Section(const ByteSpan *pieces, size_t count, WriteStream *out) {
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        total += pieces[i].size;
    }
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 9) != 0) {
        return Fail("Error Lzma2Enc_SetProps");
    }
    options.dict_size = FittingDictionarySize(total, options.dict_size);
    if (options.dict_size < kLzma2MinDictionary) {
        options.dict_size = kLzma2MinDictionary;
    }
    lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    uint8_t property = 0;
    if (lzma_properties_encode(&filters[0], &property) != LZMA_OK) {
        return Fail("Error Lzma2Enc_SetProps");
    }
    RawLzma2Encoder encoder;
    const lzma_ret init = lzma_raw_encoder(encoder.handle(), filters);
    const bool encHandle = init != LZMA_MEM_ERROR;
    if (!encHandle) {
        difflog::assertionFailed("encHandle", VXDELTA_SOURCE_PATH("lzmaioout.cpp"), __LINE__);
    }
    if (init != LZMA_OK) {
        return Fail("Error Lzma2Enc_SetProps");
    }
    if (!out->writeByte(property) || !out->writeSizeVarint(total)) {
        return false;
    }
    const size_t bound = EncodedBound(total);
    uint8_t *dst = out->tailRoom(bound);
    if (dst == nullptr) {
        return Fail("Error Lzma2Enc_Encode");
    }
    lzma_stream *stream = encoder.handle();
    stream->next_out = dst;
    stream->avail_out = bound;
    for (size_t i = 0; i < count; ++i) {
        if (!encoder.feed(pieces[i], false)) {
            return Fail("Error Lzma2Enc_Encode");
        }
    }
    if (!encoder.feed(ByteSpan{nullptr, 0}, true)) {
        return Fail("Error Lzma2Enc_Encode");
    }
    out->extend(bound - stream->avail_out);
    return true;
}

}  // namespace vxdelta
