// The disassemblers: each turns the bytes of one executable image of its
// kind into an AsmProgram. The generator and the applier run the same
// disassembler over the same bytes, so every rule a class follows (which
// bytes are code, which operands become references, the emission order) is
// part of the container and patch formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "asm_program.h"
#include "exe_type.h"
#include "vxdelta.h"

namespace vxdelta {

// Base of the six disassembler classes. Construct over the image bytes,
// call parseHeader(); only when it succeeds may disassemble() be called.
// The image is read, never modified, and must outlive the disassembler and
// the program it fills.
class Disassembler {
public:
    Disassembler(const uint8_t *start, size_t length);
    virtual ~Disassembler();
    Disassembler(const Disassembler &) = delete;
    Disassembler &operator=(const Disassembler &) = delete;

    virtual ExeType kind() const { return EXE_UNKNOWN; }

    // Checks the headers and records what disassembly needs. False with
    // failureReason() set when the class does not accept the image. May
    // reduce length() to the bytes that belong to the executable.
    virtual bool parseHeader() = 0;

    // Fills program (created with kind()) with the image's instructions and
    // assigns default label indexes. False when the image cannot be
    // disassembled (malformed tables, allocation failure).
    virtual bool disassemble(AsmProgram *program) = 0;

    bool ok() const { return m_FailureReason.empty(); }
    const std::string &failureReason() const { return m_FailureReason; }
    size_t length() const { return m_Length; }
    const uint8_t *start() const { return m_Start; }
    const uint8_t *end() const { return m_End; }

protected:
    // Marks the header parse as successful; returns true.
    bool good();
    // Records why the image is rejected; returns false.
    bool bad(const char *reason);

    // The byte at file offset, or nullptr when offset is beyond the image.
    const uint8_t *fileOffsetToPointer(size_t offset) const;
    // True when [offset, offset + size) lies within the original image.
    bool isRangeInImage(size_t offset, size_t size) const;
    // Shrinks length(); a larger value is ignored.
    void reduceLength(size_t length);

private:
    std::string m_FailureReason;
    const uint8_t *m_Start;
    const uint8_t *m_End;
    size_t m_Length;
};

// The first disassembler, in detection order (PE32, PE32+, ELF32 x86,
// ELF64 x86-64, ELF32 ARM, Mach-O), whose header parse accepts the image;
// nullptr when none does (or on allocation failure).
std::unique_ptr<Disassembler> MakeDisassembler(const uint8_t *data, size_t size);

// C_OK with the kind and the executable's length after the header parse;
// C_INPUT_NOT_RECOGNIZED with EXE_UNKNOWN and 0 when no class accepts it.
Status DetectExeType(const uint8_t *data, size_t size, ExeType *kind, size_t *detectedLength);

// Disassembles [data, data + size). C_OK with *program set;
// C_INPUT_NOT_RECOGNIZED when no disassembler accepts the bytes;
// C_DISASSEMBLY_FAILED when one accepts them but cannot parse them. The
// program refers into data, which must outlive it.
Status DisassembleExecutable(const uint8_t *data, size_t size,
                             std::unique_ptr<AsmProgram> *program);

}  // namespace vxdelta
