// The PE header parse and the base relocation table: every rejection with
// its exact message, on patched copies of the generated PE32 and PE32+
// fixtures.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "disassembler_win32_x64.h"
#include "disassembler_win32_x86.h"
#include "pe_elf_support.h"

namespace pe_elf_test {
namespace {

using vxdelta::DisassemblerWin32;
using vxdelta_test::MessageLog;

using Patch = std::function<void(Bytes *)>;

std::unique_ptr<DisassemblerWin32> MakePe(bool x64, const Bytes &image) {
    if (x64) {
        return std::make_unique<vxdelta::DisassemblerWin32X64>(image.data(), image.size());
    }
    return std::make_unique<vxdelta::DisassemblerWin32X86>(image.data(), image.size());
}

size_t Pe(const Bytes &image) {
    return Get32(image, 60);
}

uint32_t SizeOfImage(const Bytes &image) {
    return Get32(image, PeOptionalHeader(image) + 56);
}

size_t DirectoryEntry(const Bytes &image, int index) {
    const bool x64 = Get16(image, PeOptionalHeader(image)) == 0x20B;
    return PeOptionalHeader(image) + (x64 ? 112 : 96) + 8 * index;
}

PeSection Section(const Bytes &image, const char *name) {
    PeSection section{};
    EXPECT_TRUE(FindPeSection(image, name, &section)) << name;
    return section;
}

struct PeRow {
    const char *name;
    const char *fixture;
    bool x64Class;
    Patch patch;
    const char *reason;  // "" when accepted
    const char *logged;  // the detail logged with "malformed data directory"
};

void PrintTo(const PeRow &row, std::ostream *out) {
    *out << row.name;
}

class PeHeader : public ::testing::TestWithParam<PeRow> {};

TEST_P(PeHeader, ParseGivesExactlyThisResult) {
    const PeRow &row = GetParam();
    Bytes image = LoadFixture(row.fixture);
    ASSERT_FALSE(image.empty());
    if (row.patch) {
        row.patch(&image);
    }
    image.shrink_to_fit();
    MessageLog log;
    const std::unique_ptr<DisassemblerWin32> disassembler = MakePe(row.x64Class, image);
    EXPECT_EQ(disassembler->parseHeader(), *row.reason == 0);
    EXPECT_EQ(disassembler->failureReason(), row.reason);
    if (*row.logged != 0) {
        EXPECT_NE(std::find_if(log.messages.begin(), log.messages.end(),
                               [&](const std::string &m) {
                                   return m.find(row.logged) != std::string::npos;
                               }),
                  log.messages.end());
    }
}

const PeRow kPeRows[] = {
    {"accepted32", "pe32", false, nullptr, "", ""},
    {"accepted64", "pe64", true, nullptr, "", ""},
    {"tooSmall", "pe32", false, [](Bytes *b) { b->resize(63); }, "Too small", ""},
    {"notMz", "pe32", false, [](Bytes *b) { (*b)[1] = 'X'; }, "Not MZ", ""},
    {"peOffsetZero", "pe32", false, [](Bytes *b) { Put32(b, 60, 0); }, "Bad offset to PE header",
     ""},
    {"peOffsetPastEnd", "pe32", false, [](Bytes *b) { Put32(b, 60, b->size()); },
     "Bad offset to PE header", ""},
    {"peOffsetLeaves24", "pe32", false, [](Bytes *b) { Put32(b, 60, b->size() - 24); },
     "Bad offset to PE header", ""},
    {"peOffsetMisaligned", "pe32", false, [](Bytes *b) { Put32(b, 60, Pe(*b) + 4); },
     "Misaligned PE header", ""},
    {"noSignature", "pe32", false, [](Bytes *b) { (*b)[Pe(*b) + 2] = 1; }, "no PE signature", ""},
    {"optionalPastEnd", "pe32", false, [](Bytes *b) { Put16(b, Pe(*b) + 20, 0xFFFF); },
     "optional header past end of file", ""},
    {"noMagic", "pe32", false, [](Bytes *b) { Put16(b, Pe(*b) + 20, 1); },
     "optional header no magic", ""},
    {"unknownMagic", "pe32", false, [](Bytes *b) { Put16(b, PeOptionalHeader(*b), 0x107); },
     "unrecognized magic", ""},
    {"optionalTooShort32", "pe32", false, [](Bytes *b) { Put16(b, Pe(*b) + 20, 95); },
     "optional header too short", ""},
    {"optionalTooShort64", "pe64", true, [](Bytes *b) { Put16(b, Pe(*b) + 20, 111); },
     "optional header too short", ""},
    // Five directories fit, sixteen are claimed: the base relocation entry
    // lies beyond the optional header.
    {"directoriesInconsistent", "pe32", false, [](Bytes *b) { Put16(b, Pe(*b) + 20, 96 + 8 * 5); },
     "malformed data directory", "number of data directories inconsistent"},
    {"directoryOutsideImage", "pe32", false,
     [](Bytes *b) { Put32(b, DirectoryEntry(*b, 1), SizeOfImage(*b) + 1); },
     "malformed data directory", "data directory outside image"},
    {"directoryTooBig", "pe64", true,
     [](Bytes *b) { Put32(b, DirectoryEntry(*b, 14) + 4, SizeOfImage(*b) + 1); },
     "malformed data directory", "data directory size too big"},
    // Directories beyond the stated count read as empty; the unchecked
    // directory 4 may hold anything.
    {"fewDirectories", "pe32", false, [](Bytes *b) { Put32(b, PeOptionalHeader(*b) + 92, 2); }, "",
     ""},
    {"uncheckedDirectory", "pe32", false,
     [](Bytes *b) { Put32(b, DirectoryEntry(*b, 4), 0xFFFFFFF0); }, "", ""},
    {"sectionTablePastEnd", "pe32", false, [](Bytes *b) { Put16(b, Pe(*b) + 6, 0xFFFF); },
     "section table past end of file", ""},
    {"resourceOnly", "pe32", false,
     [](Bytes *b) { (*b)[Section(*b, ".text").headerOffset + 5] = 'x'; },
     "Resource-only executables are not yet supported", ""},
    {"textPrefixOnly", "pe64", true,
     [](Bytes *b) { (*b)[Section(*b, ".text").headerOffset + 5] = '$'; },
     "Resource-only executables are not yet supported", ""},
    {"pe64ToX86Class", "pe64", false, nullptr,
     "64 bit executables are not supported by this disassembler", ""},
    {"pe32ToX64Class", "pe32", true, nullptr,
     "32 bit executables are not supported by this disassembler", ""},
};

INSTANTIATE_TEST_SUITE_P(Table, PeHeader, ::testing::ValuesIn(kPeRows),
                         [](const ::testing::TestParamInfo<PeRow> &info) {
                             return info.param.name;
                         });

TEST(PeHeader, SectionEndsBoundTheImage) {
    Bytes image = LoadFixture("pe32");
    const size_t size = image.size();
    image.resize(size + 100, 0xCC);
    vxdelta::DisassemblerWin32X86 disassembler(image.data(), image.size());
    ASSERT_TRUE(disassembler.parseHeader());
    EXPECT_EQ(disassembler.length(), size);
    EXPECT_FALSE(disassembler.is64Bit());
    EXPECT_EQ(disassembler.imageBase(), 0x400000u);
}

TEST(PeHeader, Pe64IsRejectedByTheFirstClassAndTakenByTheSecond) {
    const Bytes image = LoadFixture("pe64");
    MessageLog log;
    vxdelta::ExeType kind = vxdelta::EXE_UNKNOWN;
    size_t length = 0;
    ASSERT_EQ(vxdelta::DetectExeType(image.data(), image.size(), &kind, &length), vxdelta::C_OK);
    EXPECT_EQ(kind, vxdelta::EXE_WIN_32_X64);
    ASSERT_FALSE(log.messages.empty());
    EXPECT_EQ(log.messages[0],
              "WIN_32_X86 rejected: 64 bit executables are not supported by this disassembler");
}

// Base relocation table faults are found by the disassembly.
struct RelocRow {
    const char *name;
    const char *fixture;
    Patch patch;
    const char *reason;
};

void PrintTo(const RelocRow &row, std::ostream *out) {
    *out << row.name;
}

class PeRelocations : public ::testing::TestWithParam<RelocRow> {};

size_t FirstBlock(const Bytes &image) {
    return Section(image, ".reloc").rawPointer;
}

TEST_P(PeRelocations, DisassemblyFailsWithThisMessage) {
    const RelocRow &row = GetParam();
    Bytes image = LoadFixture(row.fixture);
    row.patch(&image);
    const bool x64 = std::string(row.fixture) == "pe64";
    const std::unique_ptr<DisassemblerWin32> disassembler = MakePe(x64, image);
    ASSERT_TRUE(disassembler->parseHeader());
    vxdelta::AsmProgram program(disassembler->kind());
    EXPECT_FALSE(disassembler->disassemble(&program));
    EXPECT_EQ(disassembler->failureReason(), row.reason);
    EXPECT_EQ(Disassemble(image), nullptr);
}

const RelocRow kRelocRows[] = {
    {"blockSize6", "pe32", [](Bytes *b) { Put32(b, FirstBlock(*b) + 4, 6); },
     "unreasonable relocs block"},
    {"blockSizeNotMultipleOf4", "pe64", [](Bytes *b) { Put32(b, FirstBlock(*b) + 4, 10); },
     "unreasonable relocs block"},
    {"blockPastEnd", "pe32", [](Bytes *b) { Put32(b, FirstBlock(*b) + 4, 0x10000); },
     ".relocs block outside image"},
    {"unknownType32", "pe32",
     [](Bytes *b) { Put16(b, FirstBlock(*b) + 8, static_cast<uint16_t>(0xA000 | 4)); },
     "unknown type of reloc"},
    {"highLowIn64", "pe64",
     [](Bytes *b) { Put16(b, FirstBlock(*b) + 8, static_cast<uint16_t>(0x3000 | 4)); },
     "unknown type of reloc"},
    {"tableOutsideFile", "pe32",
     [](Bytes *b) { Put32(b, DirectoryEntry(*b, 5) + 4, SizeOfImage(*b)); },
     ".relocs outside image"},
    {"tableWithoutFileBytes", "pe32",
     [](Bytes *b) { Put32(b, DirectoryEntry(*b, 5), SizeOfImage(*b) - 4); },
     ".relocs outside image"},
    {"textPastEnd", "pe32",
     [](Bytes *b) { Put32(b, Section(*b, ".text").headerOffset + 16, 0x100000); },
     "section outside image"},
};

INSTANTIATE_TEST_SUITE_P(Table, PeRelocations, ::testing::ValuesIn(kRelocRows),
                         [](const ::testing::TestParamInfo<RelocRow> &info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace pe_elf_test

namespace pe_elf_test {
namespace {

TEST(PeAddresses, TranslateThroughTheSections) {
    const Bytes image = LoadFixture("pe32");
    vxdelta::DisassemblerWin32X86 disassembler(image.data(), image.size());
    ASSERT_TRUE(disassembler.parseHeader());
    PeSection text{};
    ASSERT_TRUE(FindPeSection(image, ".text", &text));
    size_t offset = 0;
    EXPECT_TRUE(disassembler.rvaToFileOffset(text.virtualAddress + 3, &offset));
    EXPECT_EQ(offset, text.rawPointer + 3u);
    EXPECT_EQ(disassembler.fileOffsetToRva(text.rawPointer + 3), text.virtualAddress + 3);
    EXPECT_EQ(disassembler.fileOffsetToRva(8), 0u);  // the headers lie in no section
    // Header rvas 0 and 2 map to themselves; others outside every section
    // have no file offset.
    EXPECT_TRUE(disassembler.rvaToFileOffset(2, &offset));
    EXPECT_EQ(offset, 2u);
    MessageLog log;
    EXPECT_FALSE(disassembler.rvaToFileOffset(4, &offset));
    EXPECT_EQ(log.messages, std::vector<std::string>{"REACHED UNREACHABLE"});
}

}  // namespace
}  // namespace pe_elf_test
