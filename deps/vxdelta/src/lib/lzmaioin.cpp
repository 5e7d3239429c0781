// LZMA2 section decoding over liblzma's raw LZMA2 filter, with its results
// mapped onto the section's documented result codes.
//
// liblzma decodes into a dictionary of its own and copies from there to the
// output, so a plain decode holds the whole output plus up to a dictionary's
// worth of the same bytes again. A dictionary-reset segment that fits in the
// declared dictionary is therefore decoded in place: liblzma's dictionary
// allocation is served from the output buffer itself at the segment's
// offset, so the dictionary fills exactly the bytes the output needs. Every
// byte liblzma hands out is compared with what landed in the output; if
// liblzma lays its dictionary out differently, or anything fails, the
// section is decoded again the plain way, which also yields the exact result
// code.
#include <lzma.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine_log.h"
#include "lzma2_chunks.h"
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

// Smaller segments are decoded the plain way: their dictionary costs less
// than the setup of a decoder of their own.
constexpr uint64_t kInPlaceMinimum = uint64_t{1} << 20;
// liblzma rounds its dictionary up to a multiple of 16 bytes and clears the
// last byte when it resets, so the output buffer carries a little slack.
constexpr size_t kDictionaryAlignment = 16;
constexpr size_t kOutputSlack = 64;
// Output is taken in steps of this size, so the input already consumed can
// be released while decoding goes on.
constexpr size_t kOutputStep = size_t{128} << 10;

int CodeOf(lzma_ret ret) {
    return ret == LZMA_MEM_ERROR ? kLzma2OutOfMemory : kLzma2CorruptData;
}

// Serves the first request of exactly `expected` bytes from memory the
// caller owns and every other request from the heap.
class RegionAllocator {
public:
    RegionAllocator(uint8_t *region, size_t expected)
        : m_Allocator{&RegionAllocator::allocate, &RegionAllocator::release, this},
          m_Region(region),
          m_Expected(expected) {}
    RegionAllocator(const RegionAllocator &) = delete;
    RegionAllocator &operator=(const RegionAllocator &) = delete;

    const lzma_allocator *get() const { return &m_Allocator; }
    bool served() const { return m_Served; }

private:
    static void *allocate(void *opaque, size_t count, size_t size) {
        auto *self = static_cast<RegionAllocator *>(opaque);
        if (count == 0 || size == 0 || count > SIZE_MAX / size) {
            return nullptr;
        }
        if (!self->m_Served && self->m_Expected != 0 && count * size == self->m_Expected) {
            self->m_Served = true;
            return self->m_Region;
        }
        return std::malloc(count * size);
    }
    static void release(void *opaque, void *ptr) {
        if (ptr != static_cast<RegionAllocator *>(opaque)->m_Region) {
            std::free(ptr);
        }
    }

    lzma_allocator m_Allocator;
    uint8_t *m_Region;
    size_t m_Expected;
    bool m_Served = false;
};

class RawLzma2Decoder {
public:
    ~RawLzma2Decoder() { lzma_end(&m_Stream); }

    lzma_ret init(uint32_t dictionarySize, const lzma_allocator *allocator = nullptr) {
        lzma_options_lzma options;
        lzma_lzma_preset(&options, LZMA_PRESET_DEFAULT);
        options.dict_size = dictionarySize;
        const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        m_Stream.allocator = allocator;
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

// The dictionary the plain decode uses. No match can reach further back
// than the output that exists, so a dictionary beyond the room decoded into
// would only cost memory.
uint32_t PlainDictionary(uint32_t property, size_t room) {
    const uint32_t fitting = FittingDictionarySize(std::max<uint64_t>(room, kLzma2MinDictionary),
                                                   Lzma2DictionarySize(property));
    return std::max(fitting, kLzma2MinDictionary);
}

// Decodes exactly `size` bytes into out (room for `room` bytes) and requires
// the end marker right after them. Returns -1 on success with *consumed set,
// else the result code.
int DecodeRaw(uint32_t property, const uint8_t *in, size_t inSize, uint8_t *out, size_t room,
              uint32_t size, size_t *consumed) {
    if (property > kLzma2MaxProperty) {
        return kLzma2BadProperty;
    }
    RawLzma2Decoder decoder;
    lzma_ret ret = decoder.init(PlainDictionary(property, room));
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

// Where a segmented decode reads and writes: the framed input, the output
// buffer (with kOutputSlack bytes beyond the section), the plain dictionary
// size and the input's owner.
struct SegmentTarget {
    const uint8_t *in;
    uint8_t *out;
    uint32_t plainDictionary;
    InputReleaser *release;
};

// Takes a run's output from the decoder step by step. With confirm set, the
// decoder's dictionary is the output itself, so each step only confirms
// that the bytes handed out are those already in place.
uint64_t TakeOutput(RawLzma2Decoder *decoder, const SegmentTarget &target, const Lzma2Segment &run,
                    uint8_t *confirm, lzma_ret *ret) {
    uint8_t *dst = target.out + run.outOffset;
    const uint8_t *in = target.in + run.inOffset;
    size_t inLeft = run.inLength;
    uint64_t produced = 0;
    *ret = LZMA_OK;
    while (produced < run.outLength && *ret == LZMA_OK) {
        const auto step =
            static_cast<size_t>(std::min<uint64_t>(kOutputStep, run.outLength - produced));
        uint8_t *sink = confirm != nullptr ? confirm : dst + produced;
        *ret = decoder->run(in, inLeft, sink, step);
        const size_t got = step - decoder->stream().avail_out;
        if (got == 0 || (confirm != nullptr && std::memcmp(dst + produced, sink, got) != 0)) {
            return produced;
        }
        produced += got;
        in = decoder->stream().next_in;
        inLeft = decoder->stream().avail_in;
        if (target.release != nullptr) {
            target.release->releaseBefore(in);
        }
    }
    return produced;
}

// Decodes a run of whole segments into its place in the output, in place or
// the plain way. True only if the run gave exactly its output from exactly
// its input, ending with the end marker if it is the last run.
bool DecodeRun(const SegmentTarget &target, const Lzma2Segment &run, bool inPlace) {
    const uint32_t dictionary =
        inPlace ? static_cast<uint32_t>(run.outLength) : target.plainDictionary;
    const size_t allocated =
        (size_t{dictionary} + kDictionaryAlignment - 1) & ~(kDictionaryAlignment - 1);
    // The allocator must outlive the decoder, which frees through it.
    RegionAllocator allocator(target.out + run.outOffset, inPlace ? allocated : 0);
    RawLzma2Decoder decoder;
    if (decoder.init(dictionary, allocator.get()) != LZMA_OK) {
        return false;
    }
    std::unique_ptr<uint8_t[]> confirm;
    if (allocator.served()) {
        confirm.reset(new (std::nothrow) uint8_t[kOutputStep]);
        if (confirm == nullptr) {
            return false;
        }
    }
    lzma_ret ret = LZMA_OK;
    if (TakeOutput(&decoder, target, run, confirm.get(), &ret) != run.outLength) {
        return false;
    }
    if (ret == LZMA_OK) {
        // The rest of the run's input must yield no further byte.
        uint8_t probe = 0;
        const lzma_stream &stream = decoder.stream();
        ret = decoder.run(stream.next_in, stream.avail_in, &probe, 1);
    }
    const bool ended =
        run.last ? ret == LZMA_STREAM_END : (ret == LZMA_OK || ret == LZMA_BUF_ERROR);
    return ended && decoder.stream().total_out == run.outLength &&
           decoder.stream().total_in == run.inLength;
}

bool WorthDecodingInPlace(const Lzma2Segment &segment, uint32_t plainDictionary) {
    return segment.outLength >= kInPlaceMinimum && segment.outLength <= plainDictionary;
}

// Decodes a well-framed stream of `length` bytes segment by segment: the
// segments worth it in place, one decoder each; the runs of segments
// between them the plain way, one decoder per run.
bool DecodeSegmented(const SegmentTarget &target, size_t length) {
    Lzma2SegmentWalk walk(target.in, length);
    Lzma2Segment segment;
    Lzma2Segment pending;
    bool havePending = false;
    while (walk.next(&segment)) {
        if (WorthDecodingInPlace(segment, target.plainDictionary)) {
            if (havePending && !DecodeRun(target, pending, false)) {
                return false;
            }
            havePending = false;
            if (!DecodeRun(target, segment, true)) {
                return false;
            }
        } else if (!havePending) {
            pending = segment;
            havePending = true;
        } else {
            pending.inLength += segment.inLength;
            pending.outLength += segment.outLength;
            pending.last = segment.last;
        }
    }
    return !walk.malformed() && (!havePending || DecodeRun(target, pending, false));
}

// The section's stream decoded segment by segment; false if it is not well
// framed or any run fails (the caller then decodes it the plain way).
bool DecodeWellFramed(uint32_t property, const ReadStream &cursor, uint32_t size,
                      const SegmentTarget &target, size_t *consumed) {
    return property <= kLzma2MaxProperty &&
           Lzma2SegmentWalk::wellFramed(cursor.position(), cursor.remaining(), size, consumed) &&
           DecodeSegmented(target, *consumed);
}

}  // namespace

bool DecodeLzma2Section(ReadStream *in, WriteStream *out, InputReleaser *release) {
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
    if (room > SIZE_MAX - kOutputSlack - out->length() ||
        !out->reserve(out->length() + room + kOutputSlack)) {
        return Fail("unable to allocate sink space");
    }
    uint8_t *dst = out->data() + out->length();
    const SegmentTarget target{cursor.position(), dst, PlainDictionary(property, room), release};
    size_t consumed = 0;
    if (room != size || !DecodeWellFramed(property, cursor, size, target, &consumed)) {
        const int code =
            DecodeRaw(property, cursor.position(), cursor.remaining(), dst, room, size, &consumed);
        if (code >= 0) {
            LogError("Error uncompressing data " + std::to_string(code));
            return false;
        }
    }
    cursor.skip(consumed);
    out->extend(size);
    *in = cursor;
    return true;
}

}  // namespace vxdelta
