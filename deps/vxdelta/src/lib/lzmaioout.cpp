// LZMA2 section encoding (generators only): liblzma's raw LZMA2 encoder at
// preset 9, with the dictionary shrunk to the data size.
//
// Large inputs are encoded as two halves on two threads. Each half is a
// complete raw LZMA2 stream whose first chunk resets the dictionary, so the
// first half without its end marker followed by the second half is one valid
// LZMA2 stream; the second half only loses references into the first.
#include <lzma.h>

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "engine_log.h"
#include "lzma2_codec.h"
#include "lzma2_section.h"

namespace vxdelta {

namespace {

constexpr size_t kParallelThreshold = size_t{1} << 20;
constexpr uint32_t kShallowDepth = 20;

// Worst case of LZMA2: stored chunks of 64 KiB with a 3-byte header each,
// plus the end marker; the slack covers the first chunk's properties.
size_t EncodedBound(size_t size) {
    return size + (size / 65536 + 1) * 3 + 64;
}

enum class PartResult { kOk, kSetPropsFailed, kEncodeFailed, kNoEncoder };

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

size_t TotalSize(const std::vector<ByteSpan> &pieces) {
    size_t total = 0;
    for (const ByteSpan &piece : pieces) {
        total += piece.size;
    }
    return total;
}

// The bytes [from, to) of the pieces' concatenation, as pieces.
std::vector<ByteSpan> Slice(const std::vector<ByteSpan> &pieces, size_t from, size_t to) {
    std::vector<ByteSpan> out;
    size_t offset = 0;
    for (const ByteSpan &piece : pieces) {
        const size_t begin = std::max(from, offset);
        const size_t end = std::min(to, offset + piece.size);
        if (begin < end) {
            out.push_back({piece.data + (begin - offset), end - begin});
        }
        offset += piece.size;
    }
    return out;
}

// One complete raw LZMA2 stream (with end marker) of the pieces into out.
PartResult EncodeRaw(const std::vector<ByteSpan> &pieces, lzma_options_lzma options,
                     WriteStream *out) {
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    RawLzma2Encoder encoder;
    const lzma_ret init = lzma_raw_encoder(encoder.handle(), filters);
    if (init == LZMA_MEM_ERROR) {
        return PartResult::kNoEncoder;
    }
    if (init != LZMA_OK) {
        return PartResult::kSetPropsFailed;
    }
    const size_t bound = EncodedBound(TotalSize(pieces));
    uint8_t *dst = out->tailRoom(bound);
    if (dst == nullptr) {
        return PartResult::kEncodeFailed;
    }
    lzma_stream *stream = encoder.handle();
    stream->next_out = dst;
    stream->avail_out = bound;
    for (const ByteSpan &piece : pieces) {
        if (!encoder.feed(piece, false)) {
            return PartResult::kEncodeFailed;
        }
    }
    if (!encoder.feed(ByteSpan{nullptr, 0}, true)) {
        return PartResult::kEncodeFailed;
    }
    out->extend(bound - stream->avail_out);
    return PartResult::kOk;
}

// Encodes in two halves on two threads when the data is large enough;
// parts[1] stays empty otherwise.
PartResult EncodeParts(const std::vector<ByteSpan> &pieces, const lzma_options_lzma &options,
                       WriteStream parts[2]) {
    const size_t total = TotalSize(pieces);
    if (total < kParallelThreshold) {
        return EncodeRaw(pieces, options, &parts[0]);
    }
    const size_t half = total / 2;
    lzma_options_lzma halfOptions = options;
    halfOptions.dict_size =
        std::max(FittingDictionarySize(total - half, options.dict_size), kLzma2MinDictionary);
    PartResult second = PartResult::kOk;
    const std::vector<ByteSpan> secondPieces = Slice(pieces, half, total);
    try {
        std::thread worker([&] { second = EncodeRaw(secondPieces, halfOptions, &parts[1]); });
        const PartResult first = EncodeRaw(Slice(pieces, 0, half), halfOptions, &parts[0]);
        worker.join();
        return first != PartResult::kOk ? first : second;
    } catch (const std::system_error &) {
        // No thread to be had: one stream on this thread instead.
        parts[1].release();
        return EncodeRaw(pieces, options, &parts[0]);
    }
}

}  // namespace

bool EncodeLzma2Section(const ByteSpan *pieces, size_t count, WriteStream *out,
                        Lzma2Search search) {
    const std::vector<ByteSpan> all(pieces, pieces + count);
    const size_t total = TotalSize(all);
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 9) != 0) {
        return Fail("Error Lzma2Enc_SetProps");
    }
    options.dict_size =
        std::max(FittingDictionarySize(total, options.dict_size), kLzma2MinDictionary);
    if (search == Lzma2Search::kShallow) {
        options.depth = kShallowDepth;
    }
    const lzma_filter filter = {LZMA_FILTER_LZMA2, &options};
    uint8_t property = 0;
    if (lzma_properties_encode(&filter, &property) != LZMA_OK) {
        return Fail("Error Lzma2Enc_SetProps");
    }
    WriteStream parts[2];
    const PartResult result = EncodeParts(all, options, parts);
    const bool encHandle = result != PartResult::kNoEncoder;
    if (!encHandle) {
        difflog::assertionFailed("encHandle", VXDELTA_SOURCE_PATH("lzmaioout.cpp"), __LINE__);
    }
    if (result == PartResult::kSetPropsFailed) {
        return Fail("Error Lzma2Enc_SetProps");
    }
    if (result != PartResult::kOk) {
        return Fail("Error Lzma2Enc_Encode");
    }
    // The first part's end marker goes when a second part follows it.
    const size_t firstLength = parts[0].length() - (parts[1].length() != 0 ? 1 : 0);
    return out->writeByte(property) && out->writeSizeVarint(total) &&
           out->write(parts[0].data(), firstLength) && out->append(&parts[1]);
}

}  // namespace vxdelta
