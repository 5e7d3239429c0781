#include "disassembler_win32_x64.h"

namespace vxdelta {

DisassemblerWin32X64::DisassemblerWin32X64(const uint8_t *start, size_t length)
    : Disassembler(start, length) {}

// Not accepted yet: detection moves on to the next class.
bool DisassemblerWin32X64::parseHeader() {
    return bad("not supported yet");
}

bool DisassemblerWin32X64::disassemble(AsmProgram *program) {
    (void)program;
    return false;
}

}  // namespace vxdelta
