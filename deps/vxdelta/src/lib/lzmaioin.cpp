// LZMA2 section decoding over liblzma's raw LZMA2 filter, with its results
// mapped onto the section's documented result codes.
#include <lzma.h>

#include <algorithm>
#include <string>

#include "engine_log.h"
#include "lzma2_codec.h"
#include "lzma2_section.h"

namespace vxdelta {

namespace {

// An LZMA chunk needs at least 6 bytes (control, two sizes, one packed byte)
// for at most 2 MiB of output, and stored chunks never expand, so no input
// of n bytes decodes to more than this. Reserving beyond it would only let
// a tiny corrupt file claim gigabytes before the decoder notices.
uint64_t MaxDecodableSize(size_t inputBytes) {
    return (static_cast<uint64_t>(inputBytes) / 6 + 1) * (uint64_t{2} << 20);
}

int CodeOf(lzma_ret ret) {
    return ret == LZMA_MEM_ERROR ? kLzma2OutOfMemory : kLzma2CorruptData;
}

class RawLzma2Decoder {
public:
    ~RawLzma2Decoder() { lzma_end(&m_Stream); }

    lzma_ret init(uint32_t dictionarySize) {
        lzma_options_lzma options;
        lzma_lzma_preset(&options, LZMA_PRESET_DEFAULT);
        options.dict_size = dictionarySize;
        const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        return lzma_raw_decoder(&m_Stream, filters);
    }

    // Runs until the decoder stops making progress.
    lzma_ret run(const uint8_t *in, size_t inSize, uint8_t *out, size_t outSize) {
        m_Stream.next_in = in;
        m_Stream.avail_in = inSize;
        m_Stream.next_out = out;
        m_Stream.avail_out = outSize;
        lzma_ret ret = LZMA_OK;
        do {
            ret = lzma_code(&m_Stream, LZMA_RUN);
        } while (ret == LZMA_OK && m_Stream.avail_in != 0 && m_Stream.avail_out != 0);
        return ret;
    }

    const lzma_stream &stream() const { return m_Stream; }

private:
    lzma_stream m_Stream = LZMA_STREAM_INIT;
};

// Decodes exactly `size` bytes into out (room for `room` bytes) and requires
// the end marker right after them. Returns -1 on success with *consumed set,
// else the result code.
int DecodeRaw(uint32_t property, const uint8_t *in, size_t inSize, uint8_t *out, size_t room,
              uint32_t size, size_t *consumed) {
    if (property > kLzma2MaxProperty) {
        return kLzma2BadProperty;
    }
    RawLzma2Decoder decoder;
    // No match can reach further back than the output that exists, so a
    // dictionary beyond the room decoded into would only cost memory.
    const uint32_t dictionary = FittingDictionarySize(std::max<uint64_t>(room, kLzma2MinDictionary),
                                                      Lzma2DictionarySize(property));
    lzma_ret ret = decoder.init(std::max(dictionary, kLzma2MinDictionary));
    if (ret != LZMA_OK) {
        return CodeOf(ret);
    }
    ret = decoder.run(in, inSize, out, room);
    uint64_t produced = decoder.stream().total_out;
    if (ret == LZMA_OK || ret == LZMA_BUF_ERROR) {
        if (produced < size) {
            // With the room capped at what the input can yield, a decoder
            // that is neither finished nor failed has run out of input.
            return decoder.stream().avail_in == 0 ? kLzma2InputEnded : kLzma2CorruptData;
        }
        // Exactly `size` bytes so far: the next control byte must end the
        // stream, which a one-byte probe buffer reveals.
        uint8_t probe = 0;
        ret = decoder.run(decoder.stream().next_in, decoder.stream().avail_in, &probe, 1);
        produced = decoder.stream().total_out;
        if (produced > size) {
            return kLzma2CorruptData;
        }
        if (ret != LZMA_STREAM_END) {
            return (ret == LZMA_OK || ret == LZMA_BUF_ERROR) ? kLzma2InputEnded : CodeOf(ret);
        }
    }
    if (ret != LZMA_STREAM_END) {
        return CodeOf(ret);
    }
    if (produced != size) {
        return kLzma2EndedEarly;
    }
    *consumed = decoder.stream().total_in;
    return -1;
}

}  // namespace

bool DecodeLzma2Section(ReadStream *in, WriteStream *out) {
    ReadStream cursor = *in;
    uint8_t property = 0;
    if (!cursor.readBytes(&property, 1)) {
        return Fail("Error read LZMA2 properties");
    }
    uint32_t size = 0;
    if (!cursor.readVarint(&size)) {
        return Fail("Error read LZMA2 unpack size");
    }
    const auto room =
        static_cast<size_t>(std::min<uint64_t>(size, MaxDecodableSize(cursor.remaining())));
    if (room > SIZE_MAX - out->length() || !out->reserve(out->length() + room)) {
        return Fail("unable to allocate sink space");
    }
    size_t consumed = 0;
    const int code = DecodeRaw(property, cursor.position(), cursor.remaining(),
                               out->data() + out->length(), room, size, &consumed);
    if (code >= 0) {
        LogError("Error uncompressing data " + std::to_string(code));
        return false;
    }
    cursor.skip(consumed);
    out->extend(size);
    *in = cursor;
    return true;
}

}  // namespace vxdelta
