// Base of the ELF32 disassemblers (x86 and ARM): both take the relative
// relocations of REL sections as their absolute references.
#pragma once

#include "disassembler_elf.h"

namespace vxdelta {

class DisassemblerElf32 : public DisassemblerElf<Elf32Layout> {
protected:
    using DisassemblerElf<Elf32Layout>::DisassemblerElf;

    // The r_offset of a REL entry whose r_info is exactly relativeType (a
    // relative relocation without symbol).
    static bool relativeRelocationRva(const uint8_t *entry, uint32_t relativeType, Addr *rva);
    // True when the REL entry has relocation type type at rva.
    static bool relocationIs(const uint8_t *entry, uint32_t type, Addr rva);
};

}  // namespace vxdelta
