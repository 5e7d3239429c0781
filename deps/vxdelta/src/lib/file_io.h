// Whole-file access for the engine's file entry points: a read-only mapping
// of an input file and an all-or-nothing-reported write of an output file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxdelta {

// A read-only view of a whole file. An empty file maps successfully with
// size 0 and a non-null data pointer.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    // Maps path; false if it cannot be opened, sized or mapped.
    bool open(const char *path);
    const uint8_t *data() const { return m_Data; }
    size_t size() const { return m_Size; }
    // Drops the resident pages wholly before position (a pointer into the
    // mapping) from memory; they are read from the file again if touched.
    void dropPagesBefore(const uint8_t *position);

private:
    void close();

    const uint8_t *m_Data = nullptr;
    size_t m_Size = 0;
    void *m_Mapping = nullptr;
};

// Creates or truncates path and writes [data, data + size) to it. False if
// the file cannot be created or fewer bytes were written or flushed.
bool WriteWholeFile(const char *path, const uint8_t *data, size_t size);

}  // namespace vxdelta
