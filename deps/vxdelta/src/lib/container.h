// Internal: the compressed file container. Layout: magic, checksum of the
// uncompressed file, preprocessing directive (varints), then one LZMA2
// section: the file itself (directive 1), or a stream set of encoded programs
// followed by a byte diff from their assembled bytes to the file (directive 2).
#pragma once

#include <cstddef>
#include <cstdint>

#include "asm_program.h"
#include "streams.h"

namespace vxdelta {

constexpr uint32_t kContainerMagic = 132781929;
constexpr uint32_t kDirectivePlain = 1;
constexpr uint32_t kDirectiveDisAndDiff = 2;

class InputReleaser;

// The in-memory core of DecompressFile: appends the uncompressed file to the
// empty out, after its checksum was confirmed. Logs every failure. release,
// if given, hears of the payload bytes that will not be read again.
bool DecompressBuffer(const uint8_t *data, size_t size, WriteStream *out,
                      InputReleaser *release = nullptr);

// The in-memory core of CompressFile.
bool CompressBuffer(const uint8_t *data, size_t size, bool tryExecutables, WriteStream *out);

// A directive 2 container of [data, data + size) from the given programs
// (label indexes assigned): each is trimmed, encoded, serialised and
// assembled, and the final byte diff repairs what assembly does not give
// back. Logs and returns false on any failure.
bool CompressWithPrograms(const uint8_t *data, size_t size, AsmProgram *const *programs,
                          size_t count, WriteStream *out);

}  // namespace vxdelta
