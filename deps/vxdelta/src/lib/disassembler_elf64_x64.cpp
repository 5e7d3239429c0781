#include "disassembler_elf64_x64.h"

namespace vxdelta {

DisassemblerElf64X64::DisassemblerElf64X64(const uint8_t *start, size_t length)
    : Disassembler(start, length) {}

// Not accepted yet: detection moves on to the next class.
bool DisassemblerElf64X64::parseHeader() {
    return bad("not supported yet");
}

bool DisassemblerElf64X64::disassemble(AsmProgram *program) {
    (void)program;
    return false;
}

}  // namespace vxdelta
