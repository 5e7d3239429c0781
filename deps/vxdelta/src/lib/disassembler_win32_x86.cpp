#include "disassembler_win32_x86.h"

namespace vxdelta {

DisassemblerWin32X86::DisassemblerWin32X86(const uint8_t *start, size_t length)
    : Disassembler(start, length) {}

// Not accepted yet: detection moves on to the next class.
bool DisassemblerWin32X86::parseHeader() {
    return bad("not supported yet");
}

bool DisassemblerWin32X86::disassemble(AsmProgram *program) {
    (void)program;
    return false;
}

}  // namespace vxdelta
