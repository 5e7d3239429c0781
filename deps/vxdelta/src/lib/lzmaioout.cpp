// LZMA2 section encoding (generators only): liblzma's raw LZMA2 encoder,
// preset 9 or a cheaper search per part, with each dictionary shrunk to the
// data it serves.
//
// Every part, and each half of a large part, is encoded as a complete raw
// LZMA2 stream whose first chunk resets the dictionary. Such streams joined
// with all end markers but the last removed form one valid LZMA2 stream:
// each one only loses references into those before it. The streams are
// encoded on two threads.
#include <lzma.h>

#include <algorithm>
#include <atomic>
#include <deque>
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
constexpr uint32_t kSparseDepth = 1500;
constexpr uint32_t kSparseOptimalDepth = 200;
constexpr uint32_t kLongestMatch = 273;  // LZMA's longest match length
constexpr uint32_t kSparseDictionary = uint32_t{16} << 10;

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

// One complete raw stream to encode.
struct Job {
    std::vector<ByteSpan> pieces;
    lzma_options_lzma options{};
    WriteStream out;
    PartResult result = PartResult::kOk;
};

bool OptionsFor(Lzma2Search search, size_t size, lzma_options_lzma *options) {
    if (lzma_lzma_preset(options, 9) != 0) {
        return false;
    }
    uint32_t limit = options->dict_size;
    if (search == Lzma2Search::kShallow) {
        options->depth = kShallowDepth;
    } else if (search == Lzma2Search::kSparse || search == Lzma2Search::kSparseOptimal) {
        const bool optimal = search == Lzma2Search::kSparseOptimal;
        options->mode = optimal ? LZMA_MODE_NORMAL : LZMA_MODE_FAST;
        options->mf = optimal ? LZMA_MF_BT4 : LZMA_MF_HC4;
        options->nice_len = kLongestMatch;
        options->depth = optimal ? kSparseOptimalDepth : kSparseDepth;
        options->lc = 0;
        options->lp = 2;
        options->pb = 2;
        limit = kSparseDictionary;
    }
    options->dict_size = std::max(FittingDictionarySize(size, limit), kLzma2MinDictionary);
    return true;
}

// Adds the part's streams to jobs: the whole part, or its two halves when
// it is large enough to be worth a thread each.
bool AddJobs(const Lzma2Part &part, std::deque<Job> *jobs) {
    const std::vector<ByteSpan> pieces(part.pieces, part.pieces + part.count);
    const size_t total = TotalSize(pieces);
    lzma_options_lzma options;
    if (!OptionsFor(part.search, total, &options)) {
        return false;
    }
    if (total < kParallelThreshold) {
        jobs->push_back(Job{pieces, options, {}, PartResult::kOk});
        return true;
    }
    const size_t half = total / 2;
    options.dict_size =
        std::max(FittingDictionarySize(total - half, options.dict_size), kLzma2MinDictionary);
    jobs->push_back(Job{Slice(pieces, 0, half), options, {}, PartResult::kOk});
    jobs->push_back(Job{Slice(pieces, half, total), options, {}, PartResult::kOk});
    return true;
}

// Encodes the jobs on this thread and one more, each taking the next job
// not yet taken; on this thread alone when no other can be started.
void RunJobs(std::deque<Job> *jobs) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < jobs->size(); i = next++) {
            Job &job = (*jobs)[i];
            job.result = EncodeRaw(job.pieces, job.options, &job.out);
        }
    };
    if (jobs->size() > 1) {
        try {
            std::thread worker(work);
            work();
            worker.join();
            return;
        } catch (const std::system_error &) {
            // No thread to be had: every job is still waiting for this one.
        }
    }
    work();
}

PartResult FirstFailure(const std::deque<Job> &jobs) {
    for (const Job &job : jobs) {
        if (job.result != PartResult::kOk) {
            return job.result;
        }
    }
    return PartResult::kOk;
}

// The section's dictionary property: the largest dictionary of any stream.
bool SectionProperty(const std::deque<Job> &jobs, uint8_t *property) {
    lzma_options_lzma largest = jobs.front().options;
    for (const Job &job : jobs) {
        largest.dict_size = std::max(largest.dict_size, job.options.dict_size);
    }
    const lzma_filter filter = {LZMA_FILTER_LZMA2, &largest};
    return lzma_properties_encode(&filter, property) == LZMA_OK;
}

}  // namespace

bool EncodeLzma2Parts(const Lzma2Part *parts, size_t count, WriteStream *out) {
    std::deque<Job> jobs;
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!AddJobs(parts[i], &jobs)) {
            return Fail("Error Lzma2Enc_SetProps");
        }
    }
    if (jobs.empty() && !AddJobs(Lzma2Part{nullptr, 0, Lzma2Search::kThorough}, &jobs)) {
        return Fail("Error Lzma2Enc_SetProps");
    }
    for (const Job &job : jobs) {
        total += TotalSize(job.pieces);
    }
    uint8_t property = 0;
    if (!SectionProperty(jobs, &property)) {
        return Fail("Error Lzma2Enc_SetProps");
    }
    RunJobs(&jobs);
    const PartResult result = FirstFailure(jobs);
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
    if (!out->writeByte(property) || !out->writeSizeVarint(total)) {
        return false;
    }
    // Every stream but the last loses its end marker.
    for (size_t i = 0; i + 1 < jobs.size(); ++i) {
        if (!out->write(jobs[i].out.data(), jobs[i].out.length() - 1)) {
            return false;
        }
    }
    return out->append(&jobs.back().out);
}

}  // namespace vxdelta
