// Byte-level streams of the engine: a non-owning read cursor, an owned
// growable buffer that turns allocation failure into a sticky failed state,
// and the serialised stream set (up to 10 streams behind a version tag).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vxdelta {

// A read cursor over bytes owned elsewhere. Every read checks the remaining
// length first and leaves the position unchanged on failure.
class ReadStream {
public:
    ReadStream() = default;
    ReadStream(const uint8_t *data, size_t size) : m_End(data + size), m_Pos(data) {}

    // Copies n bytes to dst and advances; fails if fewer than n remain.
    bool readBytes(void *dst, size_t n);
    bool readVarint(uint32_t *value);
    bool readSignedVarint(int32_t *value);
    // Advances by n; fails if fewer than n remain.
    bool skip(size_t n);
    // Makes *slice a stream over the next n bytes and advances past them;
    // fails if fewer than n remain.
    bool readSlice(size_t n, ReadStream *slice);

    size_t remaining() const { return static_cast<size_t>(m_End - m_Pos); }
    bool empty() const { return m_Pos == m_End; }
    const uint8_t *position() const { return m_Pos; }

private:
    const uint8_t *m_End = nullptr;
    const uint8_t *m_Pos = nullptr;
};

// An owned, growable byte buffer. Growth doubles the capacity (starting at
// 256) until a write fits. If an allocation fails the buffer is released and
// the stream stays failed: every later write and reserve fails.
class WriteStream {
public:
    WriteStream() = default;
    ~WriteStream();
    WriteStream(WriteStream &&other) noexcept;
    WriteStream &operator=(WriteStream &&other) noexcept;
    WriteStream(const WriteStream &) = delete;
    WriteStream &operator=(const WriteStream &) = delete;

    bool write(const void *bytes, size_t n);
    bool writeByte(uint8_t byte);
    bool writeVarint(uint32_t value);
    bool writeSignedVarint(int32_t value);
    // A 64-bit length or count as a varint. A value above 32 bits is a failed
    // internal assertion, which ends the process.
    bool writeSizeVarint(uint64_t value);
    // Makes room for a total length of at least total bytes (never less than
    // 256) without changing the length.
    bool reserve(size_t total);
    // Copies other's bytes to the end of this stream and releases other.
    bool append(WriteStream *other);
    // Grows the length by n and returns the first of the n new (uninitialised)
    // bytes, or nullptr on failure. The pointer stays valid until the next
    // operation that may grow the buffer.
    uint8_t *extend(size_t n);
    // Returns room for at least n bytes after the current end without changing
    // the length, or nullptr on failure; commit the bytes actually written
    // with extend.
    uint8_t *tailRoom(size_t n);
    // Shortens the length to n if it is longer; the capacity stays.
    void truncate(size_t n) { m_Length = n < m_Length ? n : m_Length; }
    // Frees the buffer; the stream becomes empty and usable again.
    void release();

    const uint8_t *data() const { return m_Data; }
    uint8_t *data() { return m_Data; }
    size_t length() const { return m_Length; }
    bool failed() const { return m_Failed; }
    ReadStream reader() const { return ReadStream(m_Data, m_Length); }

private:
    bool ensureRoom(size_t extra);
    bool reallocateTo(size_t capacity);
    void markFailed();

    uint8_t *m_Data = nullptr;
    size_t m_Length = 0;
    size_t m_Capacity = 0;
    bool m_Failed = false;
};

constexpr uint32_t kStreamSetVersion = 20090218;
constexpr size_t kMaxStreamSetStreams = 10;

// The writing side of a stream set: ten streams and a count (10 unless set).
class StreamSet {
public:
    WriteStream &stream(size_t index) { return m_Streams[index]; }
    const WriteStream &stream(size_t index) const { return m_Streams[index]; }
    void setCount(size_t count) { m_Count = count; }
    size_t count() const { return m_Count; }
    // Writes version, count, the first count lengths and their bytes to out.
    bool serialize(WriteStream *out) const;
    // Writes what serialize writes before the first stream's bytes: the
    // serialised set is this followed by the first count streams' bytes.
    bool serializeHeader(WriteStream *out) const;
    // Releases every stream's buffer.
    void release();

private:
    WriteStream m_Streams[kMaxStreamSetStreams];
    size_t m_Count = kMaxStreamSetStreams;
};

// The reading side of a stream set: views into a serialised set.
class ReadStreamSet {
public:
    // Parses a serialised set occupying exactly [data, data + size). Fails on
    // another version, a count above 10, a truncated varint, or a byte count
    // after the lengths that differs from their sum.
    bool init(const uint8_t *data, size_t size);
    bool init(const ReadStream &stream) { return init(stream.position(), stream.remaining()); }

    // Makes the set hold count empty streams (count <= 10); callers then
    // point the streams at slices of other data.
    void reset(size_t count);

    size_t count() const { return m_Count; }
    // The stream at index, or nullptr when index >= count.
    ReadStream *stream(size_t index) { return index < m_Count ? &m_Streams[index] : nullptr; }
    // True when every stream has been read to its end.
    bool consumed() const;

private:
    ReadStream m_Streams[kMaxStreamSetStreams];
    size_t m_Count = 0;
};

}  // namespace vxdelta
