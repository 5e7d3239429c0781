#include "streams.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "engine_log.h"
#include "varint.h"

namespace vxdelta {

namespace {
constexpr size_t kMinCapacity = 256;
constexpr int kSizeVarintCheckLine = 209;
}  // namespace

bool ReadStream::readBytes(void *dst, size_t n) {
    if (n > remaining()) {
        return false;
    }
    if (n != 0) {
        std::memcpy(dst, m_Pos, n);
    }
    m_Pos += n;
    return true;
}

bool ReadStream::readVarint(uint32_t *value) {
    return DecodeVarint(&m_Pos, m_End, value);
}

bool ReadStream::readSignedVarint(int32_t *value) {
    uint32_t raw = 0;
    if (!readVarint(&raw)) {
        return false;
    }
    *value = ZigzagDecode(raw);
    return true;
}

bool ReadStream::skip(size_t n) {
    if (n > remaining()) {
        return false;
    }
    m_Pos += n;
    return true;
}

bool ReadStream::readSlice(size_t n, ReadStream *slice) {
    if (n > remaining()) {
        return false;
    }
    *slice = ReadStream(m_Pos, n);
    m_Pos += n;
    return true;
}

WriteStream::~WriteStream() {
    std::free(m_Data);
}

WriteStream::WriteStream(WriteStream &&other) noexcept
    : m_Data(std::exchange(other.m_Data, nullptr)),
      m_Length(std::exchange(other.m_Length, 0)),
      m_Capacity(std::exchange(other.m_Capacity, 0)),
      m_Failed(std::exchange(other.m_Failed, false)) {}

WriteStream &WriteStream::operator=(WriteStream &&other) noexcept {
    if (this != &other) {
        std::free(m_Data);
        m_Data = std::exchange(other.m_Data, nullptr);
        m_Length = std::exchange(other.m_Length, 0);
        m_Capacity = std::exchange(other.m_Capacity, 0);
        m_Failed = std::exchange(other.m_Failed, false);
    }
    return *this;
}

void WriteStream::markFailed() {
    std::free(m_Data);
    m_Data = nullptr;
    m_Length = 0;
    m_Capacity = 0;
    m_Failed = true;
}

namespace {

// Asks for transparent huge pages on the 2 MiB-aligned stretches of a large
// buffer that are still untouched: a multi-megabyte stream otherwise takes
// a page fault per 4 KiB as it fills, which costs more than the bytes
// written into it. Only advice: where huge pages are off or the kernel has
// none, the buffer works as before.
void AdviseLargePages(uint8_t *from, size_t length) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    const auto begin = (reinterpret_cast<uintptr_t>(from) + kHugePage - 1) & ~(kHugePage - 1);
    const auto end = (reinterpret_cast<uintptr_t>(from) + length) & ~(kHugePage - 1);
    if (end > begin) {
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
    }
#else
    (void)from;
    (void)length;
#endif
}

}  // namespace

bool WriteStream::reallocateTo(size_t capacity) {
    void *grown = std::realloc(m_Data, capacity);
    if (grown == nullptr) {
        markFailed();
        return false;
    }
    m_Data = static_cast<uint8_t *>(grown);
    m_Capacity = capacity;
    AdviseLargePages(m_Data + m_Length, capacity - m_Length);
    return true;
}

bool WriteStream::ensureRoom(size_t extra) {
    if (m_Failed) {
        return false;
    }
    if (extra <= m_Capacity - m_Length) {
        return true;
    }
    if (extra > SIZE_MAX - m_Length) {
        markFailed();
        return false;
    }
    const size_t needed = m_Length + extra;
    size_t capacity = m_Capacity == 0 ? kMinCapacity : m_Capacity;
    while (capacity < needed) {
        if (capacity > SIZE_MAX / 2) {
            capacity = needed;
            break;
        }
        capacity *= 2;
    }
    return reallocateTo(capacity);
}

bool WriteStream::write(const void *bytes, size_t n) {
    if (n == 0) {
        return true;
    }
    if (!ensureRoom(n)) {
        return false;
    }
    std::memcpy(m_Data + m_Length, bytes, n);
    m_Length += n;
    return true;
}

bool WriteStream::writeByte(uint8_t byte) {
    if (m_Length == m_Capacity && !ensureRoom(1)) {
        return false;
    }
    if (m_Failed) {
        return false;
    }
    m_Data[m_Length++] = byte;
    return true;
}

bool WriteStream::writeVarint(uint32_t value) {
    uint8_t buffer[kMaxVarintBytes];
    return write(buffer, EncodeVarint(value, buffer));
}

bool WriteStream::writeSignedVarint(int32_t value) {
    return writeVarint(ZigzagEncode(value));
}

bool WriteStream::writeSizeVarint(uint64_t value) {
    const auto narrowed_value = static_cast<uint32_t>(value);
    if (!(value == narrowed_value)) {
        difflog::assertionFailed("value == narrowed_value", VXDELTA_SOURCE_PATH("streams.cpp"),
                                 kSizeVarintCheckLine);
    }
    return writeVarint(narrowed_value);
}

bool WriteStream::reserve(size_t total) {
    if (m_Failed) {
        return false;
    }
    if (total < kMinCapacity) {
        total = kMinCapacity;
    }
    if (total <= m_Capacity) {
        return true;
    }
    return reallocateTo(total);
}

bool WriteStream::append(WriteStream *other) {
    const bool ok = !other->m_Failed && write(other->m_Data, other->m_Length);
    other->release();
    return ok;
}

uint8_t *WriteStream::extend(size_t n) {
    if (!ensureRoom(n)) {
        return nullptr;
    }
    uint8_t *first = m_Data + m_Length;
    m_Length += n;
    return first;
}

uint8_t *WriteStream::tailRoom(size_t n) {
    if (!ensureRoom(n == 0 ? 1 : n)) {
        return nullptr;
    }
    return m_Data + m_Length;
}

void WriteStream::release() {
    std::free(m_Data);
    m_Data = nullptr;
    m_Length = 0;
    m_Capacity = 0;
    m_Failed = false;
}

bool StreamSet::serializeHeader(WriteStream *out) const {
    bool ok = out->writeVarint(kStreamSetVersion) && out->writeSizeVarint(m_Count);
    for (size_t i = 0; ok && i < m_Count; ++i) {
        ok = !m_Streams[i].failed() && out->writeSizeVarint(m_Streams[i].length());
    }
    return ok;
}

bool StreamSet::serialize(WriteStream *out) const {
    bool ok = serializeHeader(out);
    for (size_t i = 0; ok && i < m_Count; ++i) {
        ok = out->write(m_Streams[i].data(), m_Streams[i].length());
    }
    return ok;
}

void StreamSet::release() {
    for (WriteStream &s : m_Streams) {
        s.release();
    }
}

bool ReadStreamSet::init(const uint8_t *data, size_t size) {
    m_Count = 0;
    ReadStream header(data, size);
    uint32_t version = 0;
    uint32_t count = 0;
    if (!header.readVarint(&version) || version != kStreamSetVersion ||
        !header.readVarint(&count) || count > kMaxStreamSetStreams) {
        return false;
    }
    uint32_t lengths[kMaxStreamSetStreams] = {};
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!header.readVarint(&lengths[i])) {
            return false;
        }
        total += lengths[i];
    }
    if (total != header.remaining()) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        header.readSlice(lengths[i], &m_Streams[i]);
    }
    m_Count = count;
    return true;
}

void ReadStreamSet::reset(size_t count) {
    for (ReadStream &stream : m_Streams) {
        stream = ReadStream();
    }
    m_Count = count < kMaxStreamSetStreams ? count : kMaxStreamSetStreams;
}

bool ReadStreamSet::consumed() const {
    for (size_t i = 0; i < m_Count; ++i) {
        if (!m_Streams[i].empty()) {
            return false;
        }
    }
    return true;
}

}  // namespace vxdelta
