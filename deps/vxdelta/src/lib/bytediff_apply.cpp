#include <cstring>
#include <limits>

#include "bytediff.h"
#include "bytediff_format.h"
#include "checksum.h"
#include "engine_log.h"
#include "lzma2_section.h"

namespace vxdelta {

namespace {

// The three streams of a diff body; for methods 1 and 2 they view buffers
// that this object owns for the duration of one apply.
// dst[i] = a[i] + b[i] modulo 256, eight bytes per step: the low seven bits
// of every byte are added with their carries kept inside the byte, and the
// top bits by exclusive or. The buffers must not overlap.
void AddBytes(uint8_t *dst, const uint8_t *a, const uint8_t *b, size_t n) {
    constexpr uint64_t kTopBits = 0x8080808080808080u;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x = 0;
        uint64_t y = 0;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        const uint64_t sum = ((x & ~kTopBits) + (y & ~kTopBits)) ^ ((x ^ y) & kTopBits);
        std::memcpy(dst + i, &sum, 8);
    }
    for (; i < n; ++i) {
        dst[i] = static_cast<uint8_t>(a[i] + b[i]);
    }
}

struct DiffBody {
    ReadStream control;
    ReadStream diff;
    ReadStream extra;
    WriteStream buffers[3];
};

bool SplitUncompressedBody(ReadStream *source, DiffBody *body) {
    uint32_t lengths[3] = {};
    for (uint32_t &length : lengths) {
        if (!source->readVarint(&length)) {
            return false;
        }
    }
    return source->readSlice(lengths[0], &body->control) &&
           source->readSlice(lengths[1], &body->diff) &&
           source->readSlice(lengths[2], &body->extra);
}

bool ReadBody(int method, ReadStream *patch, DiffBody *body) {
    if (method == kByteDiffUncompressed) {
        return SplitUncompressedBody(patch, body);
    }
    if (method == kByteDiffSingleSection) {
        if (!DecodeLzma2Section(patch, &body->buffers[0])) {
            return false;
        }
        ReadStream inner = body->buffers[0].reader();
        return SplitUncompressedBody(&inner, body);
    }
    ReadStream *targets[3] = {&body->control, &body->diff, &body->extra};
    for (int i = 0; i < 3; ++i) {
        if (!DecodeLzma2Section(patch, &body->buffers[i])) {
            return false;
        }
        *targets[i] = body->buffers[i].reader();
    }
    return true;
}

bool ReadHeader(ReadStream *patch, uint32_t *checksum) {
    char magic[kByteDiffMagicSize];
    if (!patch->readBytes(magic, sizeof magic)) {
        return false;
    }
    if (std::memcmp(magic, kByteDiffMagic, kByteDiffMagicSize) != 0) {
        return Fail("Corrupt patch header");
    }
    if (!patch->readVarint(checksum)) {
        return Fail("Could not read crc");
    }
    return true;
}

// The control loop. Every count is checked against what its stream holds
// before a byte is touched; old ranges are checked in 64 bits, which rejects
// exactly what the 32-bit sum would make negative or too large.
bool RunControl(const uint8_t *old, size_t oldSize, DiffBody *body, WriteStream *out, size_t start,
                uint32_t newSize) {
    int32_t oldPos = 0;
    while (out->length() - start < newSize) {
        int32_t x = 0;
        int32_t y = 0;
        int32_t z = 0;
        if (!body->control.readSignedVarint(&x) || !body->control.readSignedVarint(&y) ||
            !body->control.readSignedVarint(&z)) {
            return Fail("Corrupt patch reading control");
        }
        if (x < 0 || static_cast<size_t>(x) > body->diff.remaining()) {
            return false;
        }
        const uint8_t *diff = body->diff.position();
        if (oldPos < 0 || static_cast<int64_t>(oldPos) + x > static_cast<int64_t>(oldSize)) {
            return false;
        }
        uint8_t *dst = out->extend(static_cast<size_t>(x));
        if (dst == nullptr) {
            return false;
        }
        body->diff.skip(static_cast<size_t>(x));
        AddBytes(dst, diff, old + oldPos, static_cast<size_t>(x));
        if (static_cast<int64_t>(out->length() - start) + y > static_cast<int64_t>(newSize)) {
            return Fail("Corrupt patch");
        }
        if (y < 0 || static_cast<size_t>(y) > body->extra.remaining() ||
            !out->write(body->extra.position(), static_cast<size_t>(y))) {
            return false;
        }
        body->extra.skip(static_cast<size_t>(y));
        oldPos = static_cast<int32_t>(static_cast<uint32_t>(oldPos) + static_cast<uint32_t>(x) +
                                      static_cast<uint32_t>(z));
    }
    return true;
}

}  // namespace

bool ApplyByteDiff(ReadStream old, ReadStream *patch, WriteStream *out, bool checkHeader) {
    uint32_t checksum = 0;
    if (checkHeader && !ReadHeader(patch, &checksum)) {
        return false;
    }
    uint8_t method = 0;
    if (!patch->readBytes(&method, 1)) {
        return false;
    }
    if (method > kMaxByteDiffMethod) {
        return Fail("Invalid compression method");
    }
    uint32_t newSize = 0;
    if (!patch->readVarint(&newSize)) {
        return false;
    }
    DiffBody body;
    if (!ReadBody(method, patch, &body)) {
        return false;
    }
    // Every new byte comes from the diff or the extra stream, so a larger
    // stated size can never be reached: reserving it would only let a corrupt
    // diff claim memory it cannot use.
    const uint64_t reachable =
        static_cast<uint64_t>(body.diff.remaining()) + body.extra.remaining();
    const size_t start = out->length();
    const auto room = static_cast<size_t>(reachable < newSize ? reachable : newSize);
    if (!out->reserve(start + room)) {
        return false;
    }
    if (!RunControl(old.position(), old.remaining(), &body, out, start, newSize)) {
        return false;
    }
    if (checkHeader && FileChecksum(out->data() + start, newSize) != checksum) {
        return Fail("crc mismatch");
    }
    return true;
}

}  // namespace vxdelta
