// The ELF header parse of the three ELF classes: every rejection with its
// exact message, on patched copies of the generated fixtures; and the
// disassembly faults that lie outside what the header parse checks.
#include <gtest/gtest.h>

#include "disassembler_elf32_arm.h"
#include "disassembler_elf32_x86.h"
#include "disassembler_elf64_x64.h"
#include "pe_elf_support.h"

namespace pe_elf_test {
namespace {

using vxdelta::Disassembler;

// Where the fields of the two ELF classes lie.
struct ElfClass {
    const char *name;
    const char *fixture;
    int kind;
    size_t headerSize;
    size_t addrSize;
    size_t programTable;
    size_t sectionTable;
    size_t programCount;
    size_t sectionEntrySize;
    size_t sectionCount;
};

const ElfClass kClasses[] = {
    {"x86", "elf32_x86_pie", vxdelta::EXE_ELF_32_X86, 52, 4, 28, 32, 44, 46, 48},
    {"arm", "elf32_thumb_pie", vxdelta::EXE_ELF_32_ARM, 52, 4, 28, 32, 44, 46, 48},
    {"x64", "elf64_x64_so", vxdelta::EXE_ELF_64_X64, 64, 8, 32, 40, 56, 58, 60},
};

std::unique_ptr<Disassembler> MakeElf(int kind, const Bytes &image) {
    switch (kind) {
        case vxdelta::EXE_ELF_32_X86:
            return std::make_unique<vxdelta::DisassemblerElf32X86>(image.data(), image.size());
        case vxdelta::EXE_ELF_32_ARM:
            return std::make_unique<vxdelta::DisassemblerElf32ARM>(image.data(), image.size());
        default:
            return std::make_unique<vxdelta::DisassemblerElf64X64>(image.data(), image.size());
    }
}

void PutAddr(Bytes *image, const ElfClass &c, size_t offset, uint64_t value) {
    if (c.addrSize == 8) {
        Put64(image, offset, value);
    } else {
        Put32(image, offset, static_cast<uint32_t>(value));
    }
}

using Patch = void (*)(Bytes *, const ElfClass &);

struct HeaderRow {
    const char *name;
    Patch patch;
    const char *reason;  // "" when accepted
};

void PrintTo(const HeaderRow &row, std::ostream *out) {
    *out << row.name;
}

const HeaderRow kHeaderRows[] = {
    {"accepted", nullptr, ""},
    {"tooSmall", [](Bytes *b, const ElfClass &c) { b->resize(c.headerSize - 1); }, "Too small"},
    {"noMagic", [](Bytes *b, const ElfClass &) { (*b)[3] = 'f'; }, "No Magic Number"},
    {"relocatableObject", [](Bytes *b, const ElfClass &) { Put16(b, 16, 1); },
     "Not an executable file or shared library"},
    {"coreFile", [](Bytes *b, const ElfClass &) { Put16(b, 16, 4); },
     "Not an executable file or shared library"},
    {"otherMachine", [](Bytes *b, const ElfClass &) { Put16(b, 18, 183); },
     "Not a supported architecture"},
    {"version2", [](Bytes *b, const ElfClass &) { Put32(b, 20, 2); }, "Unknown file version"},
    {"sectionEntrySize",
     [](Bytes *b, const ElfClass &c) {
         Put16(b, c.sectionEntrySize, static_cast<uint16_t>(Get16(*b, c.sectionEntrySize) + 1));
     },
     "Unexpected section header size"},
    {"sectionTableOffsetAtEnd",
     [](Bytes *b, const ElfClass &c) { PutAddr(b, c, c.sectionTable, b->size()); },
     "Out of bounds section header table offset"},
    {"sectionTableOffsetHuge",
     [](Bytes *b, const ElfClass &c) { PutAddr(b, c, c.sectionTable, ~uint64_t{0}); },
     "Out of bounds section header table offset"},
    {"sectionTablePastEnd",
     [](Bytes *b, const ElfClass &c) { PutAddr(b, c, c.sectionTable, b->size() - 1); },
     "Out of bounds section header table"},
    {"sectionCountPastEnd", [](Bytes *b, const ElfClass &c) { Put16(b, c.sectionCount, 0xFFFF); },
     "Out of bounds section header table"},
    {"programTableOffsetAtEnd",
     [](Bytes *b, const ElfClass &c) { PutAddr(b, c, c.programTable, b->size()); },
     "Out of bounds program header table offset"},
    {"programCountPastEnd", [](Bytes *b, const ElfClass &c) { Put16(b, c.programCount, 0xFFFF); },
     "Out of bounds program header table"},
    // Section names are not used: a string table index beyond the table
    // is no reason to reject the image.
    {"stringIndexBeyondTable",
     [](Bytes *b, const ElfClass &c) { Put16(b, c.sectionCount + 2, 0xFFFF); }, ""},
};

class ElfHeader : public ::testing::TestWithParam<std::tuple<ElfClass, HeaderRow>> {};

TEST_P(ElfHeader, ParseGivesExactlyThisResult) {
    const ElfClass &c = std::get<0>(GetParam());
    const HeaderRow &row = std::get<1>(GetParam());
    Bytes image = LoadFixture(c.fixture);
    ASSERT_FALSE(image.empty());
    if (row.patch != nullptr) {
        row.patch(&image, c);
    }
    image.shrink_to_fit();
    const std::unique_ptr<Disassembler> disassembler = MakeElf(c.kind, image);
    EXPECT_EQ(disassembler->parseHeader(), *row.reason == 0);
    EXPECT_EQ(disassembler->failureReason(), row.reason);
}

INSTANTIATE_TEST_SUITE_P(Table, ElfHeader,
                         ::testing::Combine(::testing::ValuesIn(kClasses),
                                            ::testing::ValuesIn(kHeaderRows)),
                         [](const ::testing::TestParamInfo<ElfHeader::ParamType> &info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

class ElfClassTest : public ::testing::TestWithParam<ElfClass> {};

TEST_P(ElfClassTest, LengthEndsAtTheLastTableSectionOrSegment) {
    Bytes image = LoadFixture(GetParam().fixture);
    const size_t size = image.size();
    image.resize(size + 333, 0x5A);
    const std::unique_ptr<Disassembler> disassembler = MakeElf(GetParam().kind, image);
    ASSERT_TRUE(disassembler->parseHeader());
    EXPECT_EQ(disassembler->length(), size);
}

TEST_P(ElfClassTest, OtherElfClassesRejectTheMachine) {
    const Bytes image = LoadFixture(GetParam().fixture);
    for (const ElfClass &other : kClasses) {
        const std::unique_ptr<Disassembler> disassembler = MakeElf(other.kind, image);
        const bool same = other.kind == GetParam().kind;
        EXPECT_EQ(disassembler->parseHeader(), same) << other.name;
        if (!same && other.headerSize == GetParam().headerSize) {
            EXPECT_EQ(disassembler->failureReason(), "Not a supported architecture");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, ElfClassTest, ::testing::ValuesIn(kClasses),
                         [](const ::testing::TestParamInfo<ElfClass> &info) {
                             return info.param.name;
                         });

// Faults beyond the header checks: the disassembly fails (status 25).
struct BodyRow {
    const char *name;
    const char *fixture;
    size_t field;  // offset within the section header, 32-bit field layout
    // Patches the first section of the given type.
    uint32_t sectionType;
    uint32_t value;
};

void PrintTo(const BodyRow &row, std::ostream *out) {
    *out << row.name;
}

class ElfBody : public ::testing::TestWithParam<BodyRow> {};

TEST_P(ElfBody, DisassemblyFails) {
    const BodyRow &row = GetParam();
    Bytes image = LoadFixture(row.fixture);
    bool patched = false;
    for (const ElfSectionHeader &section : ElfSections(image)) {
        if (section.type == row.sectionType) {
            Put32(&image, section.headerOffset + row.field, row.value);
            patched = true;
            break;
        }
    }
    ASSERT_TRUE(patched);
    std::unique_ptr<vxdelta::AsmProgram> program;
    EXPECT_EQ(vxdelta::DisassembleExecutable(image.data(), image.size(), &program),
              vxdelta::C_DISASSEMBLY_FAILED);
}

// ELF32 section header: 16 offset, 20 size, 36 entry size.
const BodyRow kBodyRows[] = {
    {"relocationEntrySize0", "elf32_x86_pie", 36, 9, 0},
    {"relocationEntrySize4", "elf32_arm_pie", 36, 9, 4},
    {"relocationsPastEnd", "elf32_x86_pie", 20, 9, 0x7FFFFFF0},
    {"relocationsOffsetPastEnd", "elf32_arm_so", 16, 9, 0xFFFFFFF0},
    {"codePastEnd", "elf32_x86", 20, 1, 0x10000000},
    {"codeOffsetPastEnd", "elf32_thumb_pie", 16, 1, 0x10000000},
    {"nobitsOffsetPastEnd", "elf32_x86_pie", 16, 8, 0x10000000},
};

INSTANTIATE_TEST_SUITE_P(Table, ElfBody, ::testing::ValuesIn(kBodyRows),
                         [](const ::testing::TestParamInfo<BodyRow> &info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace pe_elf_test
