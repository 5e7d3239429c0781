// Disassembler for PE32 (32-bit x86 Windows) images.
#pragma once

#include "disassembler.h"

namespace vxdelta {

class DisassemblerWin32X86 : public Disassembler {
public:
    DisassemblerWin32X86(const uint8_t *start, size_t length);

    ExeType kind() const override { return EXE_WIN_32_X86; }
    bool parseHeader() override;
    bool disassemble(AsmProgram *program) override;
};

}  // namespace vxdelta
