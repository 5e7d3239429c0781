#include "disassembler_macho.h"

namespace vxdelta {

DisassemblerMacho::DisassemblerMacho(const uint8_t *start, size_t length)
    : Disassembler(start, length) {}

// Not accepted yet: detection moves on to the next class.
bool DisassemblerMacho::parseHeader() {
    return bad("not supported yet");
}

bool DisassemblerMacho::disassemble(AsmProgram *program) {
    (void)program;
    return false;
}

}  // namespace vxdelta
