// Base of the ELF64 disassemblers (x86-64).
#pragma once

#include "disassembler_elf.h"

namespace vxdelta {

class DisassemblerElf64 : public DisassemblerElf<Elf64Layout> {
protected:
    using DisassemblerElf<Elf64Layout>::DisassemblerElf;
};

}  // namespace vxdelta
