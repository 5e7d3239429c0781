#include "file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace vxdelta {

namespace {
const uint8_t kEmptyFile[1] = {0};
}

MappedFile::~MappedFile() {
    close();
}

void MappedFile::close() {
    if (m_Mapping != nullptr) {
        munmap(m_Mapping, m_Size);
    }
    m_Mapping = nullptr;
    m_Data = nullptr;
    m_Size = 0;
}

bool MappedFile::open(const char *path) {
    close();
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok && info.st_size == 0) {
        m_Data = kEmptyFile;
    } else if (ok) {
        void *mapping =
            mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        ok = mapping != MAP_FAILED;
        if (ok) {
            m_Mapping = mapping;
            m_Data = static_cast<const uint8_t *>(mapping);
            m_Size = static_cast<size_t>(info.st_size);
        }
    }
    ::close(fd);
    return ok;
}

void MappedFile::dropPagesBefore(const uint8_t *position) {
    if (m_Mapping == nullptr || position <= m_Data || position > m_Data + m_Size) {
        return;
    }
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t length = static_cast<size_t>(position - m_Data) / page * page;
    if (length != 0) {
        madvise(m_Mapping, length, MADV_DONTNEED);
    }
}

bool WriteWholeFile(const char *path, const uint8_t *data, size_t size) {
    FILE *file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

}  // namespace vxdelta
