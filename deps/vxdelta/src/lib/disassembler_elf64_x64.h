// Disassembler for ELF 64-bit x86-64 executables and shared objects. Its
// relocation sections are literal bytes: it takes no absolute references.
#pragma once

#include "disassembler_elf64.h"

namespace vxdelta {

class DisassemblerElf64X64 : public DisassemblerElf64 {
public:
    using TypedRVAX64 = TypedRVARel32;

    DisassemblerElf64X64(const uint8_t *start, size_t length) : DisassemblerElf64(start, length) {}

    ExeType kind() const override { return EXE_ELF_64_X64; }

protected:
    uint16_t elfMachine() const override { return 62; }
    bool rvaFromRelocation(const uint8_t *, Addr *) const override { return false; }
    bool parseRelocationSection(const Section &section, AsmProgram *program) override {
        return emitFileBytes(section.offset, section.offset + section.size, program);
    }
    bool parseRel32RelocsFromSection(const Section &section) override {
        return findX86Rel32InSection(section, true);
    }
};

}  // namespace vxdelta
