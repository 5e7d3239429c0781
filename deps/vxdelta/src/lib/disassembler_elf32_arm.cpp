#include "disassembler_elf32_arm.h"

#include <new>

#include "image_bytes.h"

namespace vxdelta {

namespace {

constexpr uint32_t kRelative = 23;  // R_ARM_RELATIVE
constexpr size_t kEntrySize = 8;

// Sign-extends value from bit `bits`.
uint32_t SignExtend(uint32_t value, int bits) {
    const uint32_t sign = 1u << bits;
    return (value & sign) != 0 ? value | ~(sign - 1) : value;
}

uint32_t Bit(uint32_t value, int bit) {
    return (value >> bit) & 1;
}

// Halfword-swapped: the first halfword in memory in the high half.
uint32_t ReadThumb2(const uint8_t *p) {
    return (static_cast<uint32_t>(ReadLe16(p)) << 16) | ReadLe16(p + 2);
}

uint32_t InstructionValue(DisassemblerElf32ARM::ArmForm form, const uint8_t *bytes) {
    switch (form) {
        case DisassemblerElf32ARM::ARM_OFF8:
        case DisassemblerElf32ARM::ARM_OFF11:
            return ReadLe16(bytes);
        case DisassemblerElf32ARM::ARM_OFF24:
            return ReadLe32(bytes);
        default:
            return ReadThumb2(bytes);
    }
}

uint32_t Thumb2BranchLinkOffset(uint32_t v) {
    const uint32_t s = Bit(v, 26);
    const uint32_t i1 = ~(Bit(v, 13) ^ s) & 1;
    const uint32_t i2 = ~(Bit(v, 11) ^ s) & 1;
    const uint32_t offset =
        (s << 24) | (i1 << 23) | (i2 << 22) | (((v >> 16) & 0x3FF) << 12) | ((v & 0x7FF) << 1);
    return SignExtend(offset, 24);
}

// J1 (bit 13) is offset bit 19 and J2 (bit 11) offset bit 18 in this form.
uint32_t Thumb2ConditionalOffset(uint32_t v) {
    const uint32_t offset = ((v & 0x7FF) << 1) | (((v >> 16) & 0x3F) << 12) | (Bit(v, 11) << 18) |
                            (Bit(v, 13) << 19) | (Bit(v, 26) << 20);
    return SignExtend(offset, 20);
}

}  // namespace

bool DisassemblerElf32ARM::PackArmBranch(ArmForm form, uint32_t v, uint32_t rva, uint16_t *opcode,
                                         uint32_t *relativeTarget) {
    switch (form) {
        case ARM_OFF8:
            *opcode = static_cast<uint16_t>((v >> 8) | 0x1000);
            *relativeTarget = SignExtend((v & 0xFF) << 1, 8) + 4;
            return true;
        case ARM_OFF11:
            *opcode = static_cast<uint16_t>((v >> 11) | 0x2000);
            *relativeTarget = SignExtend((v & 0x7FF) << 1, 11) + 4;
            return true;
        case ARM_OFF24:
            *opcode = static_cast<uint16_t>((v >> 24) | 0x3000);
            *relativeTarget = SignExtend((v & 0xFFFFFF) << 2, 25) + 8;
            return true;
        case ARM_OFF25: {
            // BLX lands on a word boundary: from a halfword-aligned BLX the
            // pc adjustment is 2 instead of 4.
            const bool blx = Bit(v, 14) != 0 && Bit(v, 12) == 0;
            const uint32_t prefetch = blx && rva % 4 != 0 ? 2 : 4;
            *opcode = static_cast<uint16_t>(0x4000 | (prefetch << 8) | (((v >> 27) << 3) & 0xFF) |
                                            (((v >> 14) & 3) << 1) | ((v >> 12) & 1));
            *relativeTarget = Thumb2BranchLinkOffset(v) + prefetch;
            return true;
        }
        case ARM_OFF21:
            *opcode = static_cast<uint16_t>(0x5000 | ((v >> 22) & 0xF));
            *relativeTarget = Thumb2ConditionalOffset(v) + 4;
            return true;
    }
    return false;
}

bool DisassemblerElf32ARM::TypedRVAARM::computeRelativeTarget(const uint8_t *bytes) {
    uint32_t target = 0;
    if (!PackArmBranch(m_Form, InstructionValue(m_Form, bytes), rva(), &m_Opcode, &target)) {
        return false;
    }
    setRelativeTarget(target);
    return true;
}

bool DisassemblerElf32ARM::TypedRVAARM::emitInstruction(AsmProgram *program, Addr target,
                                                        const uint8_t *bytes) {
    Label *label = program->findOrMakeRel32Label(target);
    return label != nullptr && program->emitRel32Arm(m_Opcode, label, bytes, operandSize());
}

uint16_t DisassemblerElf32ARM::TypedRVAARM::operandSize() const {
    return m_Form == ARM_OFF8 || m_Form == ARM_OFF11 ? 2 : 4;
}

bool DisassemblerElf32ARM::rvaFromRelocation(const uint8_t *entry, Addr *rva) const {
    return relativeRelocationRva(entry, kRelative, rva);
}

bool DisassemblerElf32ARM::parseRelocationSection(const Section &section, AsmProgram *program) {
    const uint8_t *data = start() + section.offset;
    const PodVector<Addr> &abs32 = abs32Locations();
    const size_t entries = section.size / kEntrySize;
    size_t first = entries;  // the first entry at the first absolute reference
    size_t compared = 0;
    bool allMatch = false;
    // A second section that repeats the table stays bytes: only one table
    // can be regenerated.
    if (!abs32.empty() && !relocationTableClaimed()) {
        first = 0;
        while (first < entries && ReadLe32(data + first * kEntrySize) != abs32[0]) {
            ++first;
        }
        if (first < entries && entries >= abs32.size()) {
            // A section that ends before every reference was compared counts
            // as a mismatch.
            bool mismatch = false;
            while (!mismatch && compared < abs32.size() && first + compared < entries) {
                mismatch = !relocationIs(data + (first + compared) * kEntrySize, kRelative,
                                         abs32[compared]);
                ++compared;
            }
            allMatch = !mismatch && compared == abs32.size();
        }
    }
    const size_t kept = first * kEntrySize;
    if (!emitFileBytes(section.offset, section.offset + kept, program)) {
        return false;
    }
    if (allMatch) {
        claimRelocationTable();
        if (!program->emitElfArmRelocs()) {
            return bad("out of memory");
        }
    }
    const size_t resume = section.offset + kept + compared * kEntrySize;
    return emitFileBytes(resume, section.offset + section.size, program);
}

bool DisassemblerElf32ARM::findBranch(const uint8_t *data, size_t remaining, bool wordAligned,
                                      ArmForm *form) {
    if (remaining >= 3) {
        const uint16_t v = ReadLe16(data);
        if ((v & 0xF000) == 0xD000) {
            *form = ARM_OFF8;
            return true;
        }
        if ((v & 0xF800) == 0xE000) {
            *form = ARM_OFF11;
            return true;
        }
    }
    if (remaining >= 5) {
        const uint32_t v = ReadThumb2(data);
        if ((v & 0xF8008000) == 0xF0008000) {
            *form = (v & 0x5000) != 0 ? ARM_OFF25 : ARM_OFF21;
            return true;
        }
    }
    if (wordAligned && remaining >= 4 && (ReadLe32(data) & 0x0E000000) == 0x0A000000) {
        *form = ARM_OFF24;
        return true;
    }
    return false;
}

bool DisassemblerElf32ARM::parseRel32RelocsFromSection(const Section &section) {
    const uint8_t *data = start() + section.offset;
    const size_t size = section.size;
    bool wordAligned = true;
    size_t p = 0;
    while (p < size) {
        ArmForm form = ARM_OFF8;
        if (findBranch(data + p, size - p, wordAligned, &form)) {
            const Addr rva = section.address + static_cast<Addr>(p);
            std::unique_ptr<TypedRVA> reference(new (std::nothrow) TypedRVAARM(form, rva));
            if (reference == nullptr) {
                return bad("out of memory");
            }
            if (!reference->computeRelativeTarget(data + p)) {
                return bad("unknown ARM branch form");
            }
            if (isValidTargetRva(rva + reference->relativeTarget())) {
                p += reference->operandSize();
                wordAligned = true;
                if (!addReference(std::move(reference))) {
                    return false;
                }
                continue;
            }
        }
        p += 2;
        wordAligned = !wordAligned;
    }
    return true;
}

}  // namespace vxdelta
