// Disassembler for ELF 32-bit x86 executables and shared objects.
#pragma once

#include "disassembler.h"

namespace vxdelta {

class DisassemblerElf32X86 : public Disassembler {
public:
    DisassemblerElf32X86(const uint8_t *start, size_t length);

    ExeType kind() const override { return EXE_ELF_32_X86; }
    bool parseHeader() override;
    bool disassemble(AsmProgram *program) override;
};

}  // namespace vxdelta
