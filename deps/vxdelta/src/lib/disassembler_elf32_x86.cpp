#include "disassembler_elf32_x86.h"

namespace vxdelta {

DisassemblerElf32X86::DisassemblerElf32X86(const uint8_t *start, size_t length)
    : Disassembler(start, length) {}

// Not accepted yet: detection moves on to the next class.
bool DisassemblerElf32X86::parseHeader() {
    return bad("not supported yet");
}

bool DisassemblerElf32X86::disassemble(AsmProgram *program) {
    (void)program;
    return false;
}

}  // namespace vxdelta
