// Disassembler for little-endian Intel Mach-O images (32-bit and 64-bit).
#pragma once

#include "disassembler.h"

namespace vxdelta {

class DisassemblerMacho : public Disassembler {
public:
    DisassemblerMacho(const uint8_t *start, size_t length);

    ExeType kind() const override { return EXE_MACHO_X64; }
    bool parseHeader() override;
    bool disassemble(AsmProgram *program) override;
};

}  // namespace vxdelta
