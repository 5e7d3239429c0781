// Disassembler for ELF 64-bit x86-64 executables and shared objects.
#pragma once

#include "disassembler.h"

namespace vxdelta {

class DisassemblerElf64X64 : public Disassembler {
public:
    DisassemblerElf64X64(const uint8_t *start, size_t length);

    ExeType kind() const override { return EXE_ELF_64_X64; }
    bool parseHeader() override;
    bool disassemble(AsmProgram *program) override;
};

}  // namespace vxdelta
