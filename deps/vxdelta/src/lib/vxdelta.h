// The patch and compression engine's public entry points: the one header the
// updater includes. Qt-free; nothing here throws. Every function is
// re-entrant and may run on several threads at once on different files.
#pragma once

namespace vxdelta {

class ReadStream;
class WriteStream;

// Path strings are NUL-terminated bytes on this platform.
typedef char oschar;

// Result of the engine's numbered operations.
enum Status : int {
    C_OK = 1,
    C_GENERAL_ERROR = 2,            // a byte diff could not be applied, encoding failed
    C_READ_OPEN_ERROR = 3,          // the patch file cannot be opened or mapped
    C_READ_ERROR = 4,               // the old file cannot be read, or the new file written
    C_BAD_ENSEMBLE_MAGIC = 5,       // the patch does not start with the magic
    C_BAD_ENSEMBLE_VERSION = 6,     // the patch has another version
    C_BAD_ENSEMBLE_HEADER = 7,      // malformed header or transformation descriptions
    C_BAD_ENSEMBLE_CRC = 8,         // old file or result checksum mismatch
    C_BAD_BASE = 12,                // an element lies outside the old file
    C_STREAM_ERROR = 20,            // decompression, stream set, reserve or write failed
    C_STREAM_NOT_CONSUMED = 21,     // a stream was not read completely
    C_DESERIALIZATION_FAILED = 23,  // an encoded program could not be read
    C_INPUT_NOT_RECOGNIZED = 24,    // not an executable a disassembler accepts
    C_DISASSEMBLY_FAILED = 25,
    C_ASSEMBLY_FAILED = 26,
    C_TRIM_FAILED = 28,
};

// Turns the compressed container at input into the uncompressed file at
// output. True only if the output was written completely and matches the
// stored checksum; output is not opened before the checksum is confirmed.
// Failures are logged to the diagnostic log. Never modifies input.
bool DecompressFile(const oschar *input, const oschar *output);

// Writes the compressed container of input to output; with tryExecutables,
// executables that a disassembler recognises are stored disassembled.
bool CompressFile(const oschar *input, const oschar *output, bool tryExecutables);

// Applies the ensemble patch at patchPath to the file at oldPath and writes
// the result to newPath (only after it has been built and verified).
// Returns C_OK or the failure's status.
Status ApplyEnsemblePatchFiles(const oschar *oldPath, const oschar *patchPath,
                               const oschar *newPath);

// The in-memory core of ApplyEnsemblePatchFiles: the old file is old's
// remaining bytes, the patch patch's remaining bytes; the verified new file
// is appended to out (which callers pass empty; on failure it holds a
// partial result to discard). Never reads outside old, patch or its own
// buffers, whatever the patch holds.
Status ApplyEnsemblePatchStreams(const ReadStream &old, const ReadStream &patch, WriteStream *out);

// Appends an ensemble patch from old's to newData's remaining bytes to
// patch. Executable images found in both (a recognised file, or the
// recognised slices of a universal Mach-O file) become elements when that
// makes the patch smaller; otherwise the patch is a byte diff of the whole
// file. C_OK, or C_GENERAL_ERROR when the patch cannot be built (inputs of
// 2^31 bytes or more, allocation failure).
Status GenerateEnsemblePatch(const ReadStream &old, const ReadStream &newData, WriteStream *patch);

// GenerateEnsemblePatch over files; patchPath is written only on success.
// False (after logging why) when a file cannot be read or written or the
// patch cannot be built.
bool GenerateEnsemblePatchFiles(const oschar *oldPath, const oschar *newPath,
                                const oschar *patchPath);

}  // namespace vxdelta
