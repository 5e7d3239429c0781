// Disassembler for ELF 32-bit x86 executables and shared objects.
#pragma once

#include "disassembler_elf32.h"

namespace vxdelta {

class DisassemblerElf32X86 : public DisassemblerElf32 {
public:
    using TypedRVAX86 = TypedRVARel32;

    DisassemblerElf32X86(const uint8_t *start, size_t length) : DisassemblerElf32(start, length) {}

    ExeType kind() const override { return EXE_ELF_32_X86; }

protected:
    uint16_t elfMachine() const override { return 3; }
    // R_386_RELATIVE entries.
    bool rvaFromRelocation(const uint8_t *entry, Addr *rva) const override;
    // A section that starts with exactly the relative relocations of the
    // absolute references becomes INSN_ELF_RELOCS; the rest stays bytes.
    bool parseRelocationSection(const Section &section, AsmProgram *program) override;
    bool parseRel32RelocsFromSection(const Section &section) override {
        return findX86Rel32InSection(section, false);
    }
};

}  // namespace vxdelta
