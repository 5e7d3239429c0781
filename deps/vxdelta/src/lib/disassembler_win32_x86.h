// Disassembler for PE32 (32-bit x86 Windows) images.
#pragma once

#include "disassembler_win32.h"

namespace vxdelta {

class DisassemblerWin32X86 : public DisassemblerWin32 {
public:
    DisassemblerWin32X86(const uint8_t *start, size_t length)
        : DisassemblerWin32(start, length, false) {}

    ExeType kind() const override { return EXE_WIN_32_X86; }
};

}  // namespace vxdelta
