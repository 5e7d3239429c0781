// Disassembler for ELF 32-bit ARM executables and shared objects.
#pragma once

#include "disassembler.h"

namespace vxdelta {

class DisassemblerElf32ARM : public Disassembler {
public:
    DisassemblerElf32ARM(const uint8_t *start, size_t length);

    ExeType kind() const override { return EXE_ELF_32_ARM; }
    bool parseHeader() override;
    bool disassemble(AsmProgram *program) override;
};

}  // namespace vxdelta
