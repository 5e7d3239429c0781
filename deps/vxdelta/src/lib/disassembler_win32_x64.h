// Disassembler for PE32+ (64-bit x86-64 Windows) images.
#pragma once

#include "disassembler_win32.h"

namespace vxdelta {

class DisassemblerWin32X64 : public DisassemblerWin32 {
public:
    DisassemblerWin32X64(const uint8_t *start, size_t length)
        : DisassemblerWin32(start, length, true) {}

    ExeType kind() const override { return EXE_WIN_32_X64; }
};

}  // namespace vxdelta
