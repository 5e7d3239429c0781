// Disassembler for PE32+ (x86-64 Windows) images.
#pragma once

#include "disassembler.h"

namespace vxdelta {

class DisassemblerWin32X64 : public Disassembler {
public:
    DisassemblerWin32X64(const uint8_t *start, size_t length);

    ExeType kind() const override { return EXE_WIN_32_X64; }
    bool parseHeader() override;
    bool disassemble(AsmProgram *program) override;
};

}  // namespace vxdelta
