// Which bytes become references: the x86 overlap rule, the ELF64 class
// without absolute references, the instructions each fixture kind yields,
// the ARM relocation comparison and the packing of the five ARM forms.
#include <gtest/gtest.h>

#include <algorithm>

#include "container.h"
#include "disassembler_elf32_arm.h"
#include "disassembler_elf64_x64.h"
#include "disassembler_win32_x86.h"
#include "encoded_program.h"
#include "pe_elf_support.h"

namespace pe_elf_test {
namespace {

using vxdelta::AsmProgram;
using vxdelta::DisassemblerElf32ARM;

bool Contains(const vxdelta::PodVector<uint32_t> &values, uint32_t value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

// An abs32 location in .text with no other one within 16 bytes.
bool FindLoneAbs32(const vxdelta::PodVector<uint32_t> &abs32, const PeSection &text,
                   uint32_t *lone) {
    for (size_t i = 1; i + 1 < abs32.size(); ++i) {
        if (abs32[i] >= text.virtualAddress + 16 &&
            abs32[i] + 32 < text.virtualAddress + text.rawSize && abs32[i] - abs32[i - 1] > 16 &&
            abs32[i + 1] - abs32[i] > 16) {
            *lone = abs32[i];
            return true;
        }
    }
    return false;
}

TEST(X86Rel32, CallOverlappingAnAbsoluteAddressIsNoReference) {
    Bytes image = LoadFixture("pe32");
    PeSection text{};
    ASSERT_TRUE(FindPeSection(image, ".text", &text));
    uint32_t a = 0;
    {
        vxdelta::DisassemblerWin32X86 original(image.data(), image.size());
        ASSERT_TRUE(original.parseHeader());
        AsmProgram program(original.kind());
        ASSERT_TRUE(original.disassemble(&program));
        ASSERT_TRUE(FindLoneAbs32(original.abs32Locations(), text, &a));
    }
    // nops around the absolute address; a call at a - 2 whose operand
    // covers a - 1 .. a + 2 and would reach the start of .text, and a call
    // right after the address that does reach it.
    const size_t at = text.rawPointer + (a - text.virtualAddress);
    std::fill(image.begin() + at - 16, image.begin() + at, 0x90);
    std::fill(image.begin() + at + 4, image.begin() + at + 16, 0x90);
    image[at - 2] = 0xE8;
    Put32(&image, at - 1, text.virtualAddress - (a + 3));
    image[at + 4] = 0xE8;
    Put32(&image, at + 5, text.virtualAddress - (a + 9));

    vxdelta::DisassemblerWin32X86 patched(image.data(), image.size());
    ASSERT_TRUE(patched.parseHeader());
    AsmProgram program(patched.kind());
    ASSERT_TRUE(patched.disassemble(&program));
    EXPECT_TRUE(Contains(patched.abs32Locations(), a));
    EXPECT_FALSE(Contains(patched.rel32Locations(), a - 1));
    EXPECT_TRUE(Contains(patched.rel32Locations(), a + 5));
    bool ok = false;
    EXPECT_TRUE(Reassemble(image, &ok) == image);
    EXPECT_TRUE(ok);
}

// The x86-64 class takes no entry of a REL section, whatever it holds.
TEST(Elf64, RelocationSectionsNeverGiveAbsoluteReferences) {
    Bytes image = LoadFixture("elf64_x64_so");
    size_t changed = 0;
    for (const ElfSectionHeader &section : ElfSections(image)) {
        if (section.type == 4) {  // RELA becomes REL with the same entries
            Put32(&image, section.headerOffset + 4, 9);
            ++changed;
        }
    }
    ASSERT_GT(changed, 0u);
    vxdelta::DisassemblerElf64X64 disassembler(image.data(), image.size());
    ASSERT_TRUE(disassembler.parseHeader());
    AsmProgram program(disassembler.kind());
    ASSERT_TRUE(disassembler.disassemble(&program));
    EXPECT_TRUE(disassembler.abs32Locations().empty());
    EXPECT_EQ(CountInstructions(program, vxdelta::INSN_ABS32), 0u);
    EXPECT_EQ(CountInstructions(program, vxdelta::INSN_ELF_RELOCS), 0u);
    EXPECT_GT(CountInstructions(program, vxdelta::INSN_REL32), 0u);
    bool ok = false;
    EXPECT_TRUE(Reassemble(image, &ok) == image);
}

struct ContentRow {
    const char *fixture;
    vxdelta::InstructionKind table;  // the relocation marker expected once
    bool abs32;
    vxdelta::InstructionKind relative;
};

void PrintTo(const ContentRow &row, std::ostream *out) {
    *out << row.fixture;
}

class ProgramContents : public ::testing::TestWithParam<ContentRow> {};

TEST_P(ProgramContents, KindYieldsItsReferencesAndTable) {
    const ContentRow &row = GetParam();
    const std::unique_ptr<AsmProgram> program = Disassemble(LoadFixture(row.fixture));
    ASSERT_NE(program, nullptr);
    const vxdelta::InstructionKind markers[] = {vxdelta::INSN_PE_RELOCS, vxdelta::INSN_ELF_RELOCS,
                                                vxdelta::INSN_ELF_ARM_RELOCS};
    for (const vxdelta::InstructionKind marker : markers) {
        EXPECT_EQ(CountInstructions(*program, marker), marker == row.table ? 1u : 0u) << marker;
    }
    EXPECT_EQ(CountInstructions(*program, vxdelta::INSN_ABS32) > 0, row.abs32);
    EXPECT_GT(CountInstructions(*program, row.relative), 5u);
    EXPECT_EQ(CountInstructions(*program, vxdelta::INSN_ORIGIN) > 0, true);
}

// INSN_BYTE stands for "no table" in the table column.
const ContentRow kContentRows[] = {
    {"pe32", vxdelta::INSN_PE_RELOCS, true, vxdelta::INSN_REL32},
    {"pe64", vxdelta::INSN_PE_RELOCS, true, vxdelta::INSN_REL32},
    {"elf32_x86", vxdelta::INSN_BYTE, false, vxdelta::INSN_REL32},
    {"elf32_x86_pie", vxdelta::INSN_ELF_RELOCS, true, vxdelta::INSN_REL32},
    {"elf32_thumb_pie", vxdelta::INSN_ELF_ARM_RELOCS, true, vxdelta::INSN_REL32_ARM},
    {"elf32_arm_pie", vxdelta::INSN_ELF_ARM_RELOCS, true, vxdelta::INSN_REL32_ARM},
    {"elf64_x64_exe", vxdelta::INSN_BYTE, false, vxdelta::INSN_REL32},
    {"elf64_x64_so", vxdelta::INSN_BYTE, false, vxdelta::INSN_REL32},
};

INSTANTIATE_TEST_SUITE_P(Table, ProgramContents, ::testing::ValuesIn(kContentRows),
                         [](const ::testing::TestParamInfo<ContentRow> &info) {
                             return info.param.fixture;
                         });

// The REL section and its entry count in an ARM fixture.
ElfSectionHeader RelSection(const Bytes &image) {
    for (const ElfSectionHeader &section : ElfSections(image)) {
        if (section.type == 9) {
            return section;
        }
    }
    ADD_FAILURE() << "no REL section";
    return {};
}

TEST(ArmRelocations, ThirdEntryOutOfSequenceDropsTheComparedEntries) {
    Bytes image = LoadFixture("elf32_arm_pie");
    const ElfSectionHeader rel = RelSection(image);
    ASSERT_GE(rel.size / 8, 4u);
    // Entries 2 and 3 swap places: entry 2 no longer names the third
    // sorted absolute reference.
    const size_t third = rel.offset + 2 * 8;
    const uint32_t offset2 = Get32(image, third);
    Put32(&image, third, Get32(image, third + 8));
    Put32(&image, third + 8, offset2);

    const std::unique_ptr<AsmProgram> program = Disassemble(image);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(CountInstructions(*program, vxdelta::INSN_ELF_ARM_RELOCS), 0u);
    EXPECT_GT(CountInstructions(*program, vxdelta::INSN_ABS32), 0u);
    bool ok = false;
    const Bytes assembled = Reassemble(image, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(assembled.size(), image.size() - 3 * 8);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + rel.offset, assembled.begin()));
    EXPECT_TRUE(std::equal(image.begin() + rel.offset + 3 * 8, image.end(),
                           assembled.begin() + rel.offset));

    // The container's byte diff puts the entries back.
    vxdelta::WriteStream container;
    ASSERT_TRUE(vxdelta::CompressBuffer(image.data(), image.size(), true, &container));
    vxdelta::WriteStream restored;
    ASSERT_TRUE(vxdelta::DecompressBuffer(container.data(), container.length(), &restored));
    EXPECT_TRUE(vxdelta_test::Contents(restored) == image);
    uint32_t directive = 0;
    EXPECT_TRUE(ToolRoundTrip(image, "arm_swapped", &directive) == image);
    EXPECT_EQ(directive, vxdelta::kDirectiveDisAndDiff);
}

TEST(ArmRelocations, EntriesBeforeTheFirstReferenceStayBytes) {
    Bytes image = LoadFixture("elf32_thumb_pie");
    const ElfSectionHeader rel = RelSection(image);
    // The first entry becomes a relocation of another type (R_ARM_ABS32 at
    // an address outside every section): it is no absolute reference and
    // is kept in front of the table marker.
    Put32(&image, rel.offset, 0x7FFFFFF0);
    Put32(&image, rel.offset + 4, 2);
    const std::unique_ptr<AsmProgram> program = Disassemble(image);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(CountInstructions(*program, vxdelta::INSN_ELF_ARM_RELOCS), 1u);
    bool ok = false;
    EXPECT_TRUE(Reassemble(image, &ok) == image);
}

struct ArmFormRow {
    const char *name;
    uint32_t instruction;  // as the scan reads it for the form
    uint32_t rva;
    uint32_t relativeTarget;
    uint16_t opcode;
    DisassemblerElf32ARM::ArmForm form;
};

void PrintTo(const ArmFormRow &row, std::ostream *out) {
    *out << row.name;
}

class ArmForms : public ::testing::TestWithParam<ArmFormRow> {};

// The bytes of the instruction in memory order.
Bytes InstructionBytes(const ArmFormRow &row) {
    Bytes bytes;
    if (row.form == DisassemblerElf32ARM::ARM_OFF8 || row.form == DisassemblerElf32ARM::ARM_OFF11) {
        bytes.resize(2);
        Put16(&bytes, 0, static_cast<uint16_t>(row.instruction));
    } else if (row.form == DisassemblerElf32ARM::ARM_OFF24) {
        bytes.resize(4);
        Put32(&bytes, 0, row.instruction);
    } else {
        bytes.resize(4);
        Put16(&bytes, 0, static_cast<uint16_t>(row.instruction >> 16));
        Put16(&bytes, 2, static_cast<uint16_t>(row.instruction));
    }
    return bytes;
}

TEST_P(ArmForms, PacksAndAssemblesBack) {
    const ArmFormRow &row = GetParam();
    uint16_t opcode = 0;
    uint32_t target = 0;
    ASSERT_TRUE(
        DisassemblerElf32ARM::PackArmBranch(row.form, row.instruction, row.rva, &opcode, &target));
    EXPECT_EQ(opcode, row.opcode);
    EXPECT_EQ(target, row.relativeTarget);

    // The assembler rebuilds the same bytes from the opcode and the label.
    const Bytes bytes = InstructionBytes(row);
    AsmProgram program(vxdelta::EXE_ELF_32_ARM);
    ASSERT_TRUE(program.emitOrigin(row.rva));
    vxdelta::Label *label = program.findOrMakeRel32Label(row.rva + target);
    ASSERT_TRUE(
        program.emitRel32Arm(opcode, label, bytes.data(), static_cast<uint16_t>(bytes.size())));
    program.defaultAssignIndexes();
    vxdelta::EncodedProgram encoded;
    ASSERT_EQ(vxdelta::EncodeProgram(program, &encoded), vxdelta::C_OK);
    vxdelta::WriteStream out;
    ASSERT_EQ(vxdelta::AssembleProgram(encoded, &out), vxdelta::C_OK);
    EXPECT_TRUE(vxdelta_test::Contents(out) == bytes);
}

using Form = DisassemblerElf32ARM::ArmForm;
const ArmFormRow kArmFormRows[] = {
    // beq .+14 / bne . (imm8 0xFE = -4)
    {"thumbConditionalForward", 0xD005, 0x1000, 14, 0x10D0, Form::ARM_OFF8},
    {"thumbConditionalSelf", 0xD1FE, 0x1002, 0, 0x10D1, Form::ARM_OFF8},
    // b .+0x24 / b .
    {"thumbBranchForward", 0xE010, 0x1000, 0x24, 0x201C, Form::ARM_OFF11},
    {"thumbBranchSelf", 0xE7FE, 0x1000, 0, 0x201C, Form::ARM_OFF11},
    // bl .+0x48 / b . (always)
    {"armBranchLink", 0xEB000010, 0x8000, 0x48, 0x30EB, Form::ARM_OFF24},
    {"armBranchSelf", 0xEAFFFFFE, 0x8000, 0, 0x30EA, Form::ARM_OFF24},
    // bl with offset 0x100 (J1 = J2 = 1 for S = 0)
    {"thumb2BranchLink", 0xF000F880, 0x1002, 0x104, 0x44F7, Form::ARM_OFF25},
    // blx from a halfword position: the adjustment is 2
    {"thumb2BlxHalfword", 0xF000E880, 0x1002, 0x102, 0x42F6, Form::ARM_OFF25},
    {"thumb2BlxWord", 0xF000E880, 0x1004, 0x104, 0x44F6, Form::ARM_OFF25},
    // bl backwards by 2 (S = 1, J1 = J2 = 1, all offset bits set)
    {"thumb2BranchLinkBack", 0xF7FFFFFF, 0x2000, 2, 0x44F7, Form::ARM_OFF25},
    // bne.w .+0x1004 (imm6 = 1)
    {"thumb2Conditional", 0xF0418000, 0x1000, 0x1004, 0x5001, Form::ARM_OFF21},
    // J2 (bit 11) is offset bit 18, J1 (bit 13) offset bit 19
    {"thumb2ConditionalJ2", 0xF0008800, 0x1000, 0x40004, 0x5000, Form::ARM_OFF21},
    {"thumb2ConditionalJ1", 0xF000A000, 0x1000, 0x80004, 0x5000, Form::ARM_OFF21},
    {"thumb2ConditionalBack", 0xF43FAFFF, 0x1000, 2, 0x5000, Form::ARM_OFF21},
};

INSTANTIATE_TEST_SUITE_P(Table, ArmForms, ::testing::ValuesIn(kArmFormRows),
                         [](const ::testing::TestParamInfo<ArmFormRow> &info) {
                             return info.param.name;
                         });

// Detection tries the classes in a fixed order and keeps the first that
// accepts the image; the rejections before it are logged in that order.
struct DetectionRow {
    const char *fixture;
    std::vector<std::string> rejections;
};

void PrintTo(const DetectionRow &row, std::ostream *out) {
    *out << row.fixture;
}

class DetectionOrder : public ::testing::TestWithParam<DetectionRow> {};

TEST_P(DetectionOrder, RejectionsComeInClassOrder) {
    const Bytes image = LoadFixture(GetParam().fixture);
    vxdelta_test::MessageLog log;
    vxdelta::ExeType kind = vxdelta::EXE_UNKNOWN;
    size_t length = 0;
    ASSERT_EQ(vxdelta::DetectExeType(image.data(), image.size(), &kind, &length), vxdelta::C_OK);
    std::vector<std::string> rejections;
    for (const std::string &message : log.messages) {
        const size_t at = message.find(" rejected: ");
        if (at != std::string::npos) {
            rejections.push_back(message.substr(0, at));
        }
    }
    EXPECT_EQ(rejections, GetParam().rejections);
}

const DetectionRow kDetectionRows[] = {
    {"pe32", {}},
    {"pe64", {"WIN_32_X86"}},
    {"elf32_x86", {"WIN_32_X86", "WIN_32_X64"}},
    {"elf64_x64_exe", {"WIN_32_X86", "WIN_32_X64", "EXE_ELF_32_X86"}},
    {"elf32_arm_pie", {"WIN_32_X86", "WIN_32_X64", "EXE_ELF_32_X86", "ELF_64_X64"}},
};

INSTANTIATE_TEST_SUITE_P(Table, DetectionOrder, ::testing::ValuesIn(kDetectionRows),
                         [](const ::testing::TestParamInfo<DetectionRow> &info) {
                             return info.param.fixture;
                         });

}  // namespace
}  // namespace pe_elf_test

namespace pe_elf_test {
namespace {

// A second REL section whose entries repeat the table (with a symbol, so
// they are no absolute references of their own) stays bytes: a program
// can regenerate one table only, and must still assemble.
TEST(X86Relocations, SecondMatchingSectionStaysBytes) {
    Bytes image = LoadFixture("elf32_x86_pie");
    const std::vector<ElfSectionHeader> sections = ElfSections(image);
    const ElfSectionHeader *rel = nullptr;
    const ElfSectionHeader *spare = nullptr;  // the largest section without load address
    for (const ElfSectionHeader &section : sections) {
        if (section.type == 9) {
            rel = &section;
        } else if (section.address == 0 && section.type != 0 && section.type != 8 &&
                   (spare == nullptr || section.size > spare->size)) {
            spare = &section;
        }
    }
    ASSERT_NE(rel, nullptr);
    ASSERT_NE(spare, nullptr);
    ASSERT_GE(spare->size, rel->size);
    for (uint64_t i = 0; i < rel->size; i += 8) {
        Put32(&image, spare->offset + i, Get32(image, rel->offset + i));
        Put32(&image, spare->offset + i + 4, 0x108);
    }
    Put32(&image, spare->headerOffset + 4, 9);
    Put32(&image, spare->headerOffset + 36, 8);

    const std::unique_ptr<AsmProgram> program = Disassemble(image);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(CountInstructions(*program, vxdelta::INSN_ELF_RELOCS), 1u);
    bool ok = false;
    EXPECT_TRUE(Reassemble(image, &ok) == image);
    EXPECT_TRUE(ok);
}

}  // namespace
}  // namespace pe_elf_test
