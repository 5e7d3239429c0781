// Internal: a growable array of trivially copyable values that reports
// allocation failure through its results instead of throwing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

namespace vxdelta {

template <typename T>
class PodVector {
    static_assert(std::is_trivially_copyable<T>::value, "PodVector holds plain values only");

public:
    PodVector() = default;
    ~PodVector() { std::free(m_Data); }
    PodVector(PodVector &&other) noexcept
        : m_Data(std::exchange(other.m_Data, nullptr)),
          m_Size(std::exchange(other.m_Size, 0)),
          m_Capacity(std::exchange(other.m_Capacity, 0)) {}
    PodVector(const PodVector &) = delete;
    PodVector &operator=(const PodVector &) = delete;

    // Makes room for count elements in total.
    bool reserve(size_t count) {
        if (count <= m_Capacity) {
            return true;
        }
        // T may itself be a pointer type; the element size is what is meant.
        if (count > SIZE_MAX / sizeof(T)) {  // NOLINT(bugprone-sizeof-expression)
            return false;
        }
        void *grown =
            std::realloc(m_Data, count * sizeof(T));  // NOLINT(bugprone-sizeof-expression)
        if (grown == nullptr) {
            return false;
        }
        m_Data = static_cast<T *>(grown);
        m_Capacity = count;
        return true;
    }

    // Makes room for one more element, growing the capacity geometrically
    // (an exact reserve for each element would copy the array every time).
    bool reserveOneMore() {
        return m_Size < m_Capacity || reserve(m_Capacity < 16 ? 16 : m_Capacity * 2);
    }

    bool push_back(const T &value) {
        if (!reserveOneMore()) {
            return false;
        }
        m_Data[m_Size++] = value;
        return true;
    }

    bool append(const T *values, size_t count) {
        if (count > SIZE_MAX - m_Size) {
            return false;
        }
        if (m_Size + count > m_Capacity &&
            !reserve(m_Size + count > m_Capacity * 2 ? m_Size + count : m_Capacity * 2)) {
            return false;
        }
        if (count != 0) {
            std::memcpy(m_Data + m_Size, values, count * sizeof(T));
        }
        m_Size += count;
        return true;
    }

    // Grows to count elements, filling new ones with fill.
    bool resize(size_t count, const T &fill) {
        if (!reserve(count)) {
            return false;
        }
        for (size_t i = m_Size; i < count; ++i) {
            m_Data[i] = fill;
        }
        m_Size = count > m_Size ? count : m_Size;
        return true;
    }

    void clear() {
        std::free(m_Data);
        m_Data = nullptr;
        m_Size = 0;
        m_Capacity = 0;
    }

    size_t size() const { return m_Size; }
    bool empty() const { return m_Size == 0; }
    T *data() { return m_Data; }
    const T *data() const { return m_Data; }
    T &operator[](size_t i) { return m_Data[i]; }
    const T &operator[](size_t i) const { return m_Data[i]; }
    T &back() { return m_Data[m_Size - 1]; }
    T *begin() { return m_Data; }
    T *end() { return m_Data + m_Size; }
    const T *begin() const { return m_Data; }
    const T *end() const { return m_Data + m_Size; }

private:
    T *m_Data = nullptr;
    size_t m_Size = 0;
    size_t m_Capacity = 0;
};

}  // namespace vxdelta
