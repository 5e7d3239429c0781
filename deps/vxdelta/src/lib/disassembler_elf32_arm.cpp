#include "disassembler_elf32_arm.h"

namespace vxdelta {

DisassemblerElf32ARM::DisassemblerElf32ARM(const uint8_t *start, size_t length)
    : Disassembler(start, length) {}

// Not accepted yet: detection moves on to the next class.
bool DisassemblerElf32ARM::parseHeader() {
    return bad("not supported yet");
}

bool DisassemblerElf32ARM::disassemble(AsmProgram *program) {
    (void)program;
    return false;
}

}  // namespace vxdelta
