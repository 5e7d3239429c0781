// Disassembler for ELF 32-bit ARM executables and shared objects: ARM and
// Thumb(-2) branches become label references, the R_ARM_RELATIVE entries
// of REL sections absolute references.
#pragma once

#include "disassembler_elf32.h"

namespace vxdelta {

class DisassemblerElf32ARM : public DisassemblerElf32 {
public:
    // The branch encodings that carry a relative offset.
    enum ArmForm : uint8_t {
        ARM_OFF8 = 0,   // Thumb B<cond>, 2 bytes, 8-bit offset
        ARM_OFF11 = 1,  // Thumb B, 2 bytes, 11-bit offset
        ARM_OFF24 = 2,  // ARM B/BL, 4 bytes, 24-bit offset
        ARM_OFF25 = 3,  // Thumb-2 BL/BLX, 4 bytes
        ARM_OFF21 = 4,  // Thumb-2 B<cond>.W, 4 bytes
    };

    // Splits the branch instruction at rva into its packed opcode (the form
    // in bits 12-15, the non-offset bits below) and its relative target.
    // instruction is the 16-bit value (forms 0, 1), the 32-bit word (form 2)
    // or the two halfwords with the first in the high half (forms 3, 4).
    static bool PackArmBranch(ArmForm form, uint32_t instruction, uint32_t rva, uint16_t *opcode,
                              uint32_t *relativeTarget);

    class TypedRVAARM : public TypedRVA {
    public:
        TypedRVAARM(ArmForm form, Addr rva) : TypedRVA(rva), m_Form(form) {}
        bool computeRelativeTarget(const uint8_t *bytes) override;
        bool emitInstruction(AsmProgram *program, Addr target, const uint8_t *bytes) override;
        uint16_t operandSize() const override;

        ArmForm form() const { return m_Form; }
        uint16_t packedOpcode() const { return m_Opcode; }

    private:
        ArmForm m_Form;
        uint16_t m_Opcode = 0;
    };

    DisassemblerElf32ARM(const uint8_t *start, size_t length) : DisassemblerElf32(start, length) {}

    ExeType kind() const override { return EXE_ELF_32_ARM; }

protected:
    uint16_t elfMachine() const override { return 40; }
    // R_ARM_RELATIVE entries.
    bool rvaFromRelocation(const uint8_t *entry, Addr *rva) const override;
    // Entries before the first absolute reference stay bytes; from there the
    // entries are compared with the sorted references and left out; only
    // when all match does INSN_ELF_ARM_RELOCS take their place.
    bool parseRelocationSection(const Section &section, AsmProgram *program) override;
    bool parseRel32RelocsFromSection(const Section &section) override;

private:
    // The branch form at data[0..remaining), if any.
    static bool findBranch(const uint8_t *data, size_t remaining, bool wordAligned, ArmForm *form);
};

}  // namespace vxdelta
