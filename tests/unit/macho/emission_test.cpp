// Which bytes of a code section become rel32 references, on hand-assembled
// images: the candidate patterns, their precedence, the 32-bit rules, the
// target check, overlapping and empty sections; every program assembles
// back to the image.
#include <gtest/gtest.h>

#include <functional>

#include "macho_test_support.h"

namespace {

using macho_fixture::Bytes;
using macho_fixture::ImageSpec;
using macho_test::Describe;
using macho_test::DescribeFirstSection;

// The rva of the code's first byte: __TEXT starts at rva 0 (64-bit, the
// zero page is not recorded) or at 0x1000 (32-bit, the zero page is).
uint32_t CodeRva(bool wide) {
    return (wide ? 0 : 0x1000) + macho_fixture::kCodeOffset;
}

// An instruction of opcode bytes and a rel32 operand aiming at target, for
// an instruction starting at rva at.
Bytes Rel(std::initializer_list<uint8_t> opcode, uint32_t at, uint32_t target) {
    Bytes out(opcode);
    const uint32_t value = target - (at + static_cast<uint32_t>(out.size()) + 4);
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

struct EmitCase {
    const char *name;
    bool wide;
    std::function<Bytes(uint32_t codeRva)> code;
    const char *section;  // DescribeFirstSection of the program
};

class MachoEmission : public testing::TestWithParam<EmitCase> {};

TEST_P(MachoEmission, SectionAndRoundTrip) {
    const EmitCase &row = GetParam();
    const Bytes code = row.code(CodeRva(row.wide));
    const auto result = macho_test::Disassemble(
        macho_fixture::BuildImage(macho_fixture::ExecutableSpec(row.wide, code)));
    ASSERT_NE(result.program, nullptr);
    EXPECT_EQ(DescribeFirstSection(*result.program, static_cast<uint32_t>(code.size())),
              row.section);
    const Bytes assembled = macho_test::Assemble(*result.program);
    EXPECT_EQ(assembled,
              Bytes(result.bytes.begin(),
                    result.bytes.begin() + static_cast<ptrdiff_t>(result.disassembler->length())));
}

const EmitCase kEmissions[] = {
    {"CallIntoTextIsReference", true,
     [](uint32_t c) {
         return Join({Rel({0xE8}, c, 0x1000), {0xC3}});
     },
     "O:400 B1 R:1000 B1"},
    {"JmpIntoDataIsReference", true,
     [](uint32_t c) {
         return Join({Rel({0xE9}, c, 0x2800), {0xC3}});
     },
     "O:400 B1 R:2800 B1"},
    {"CallOutsideEverySegmentStaysFiveBytes", true,
     [](uint32_t c) {
         return Join({Rel({0xE8}, c, 0x8000), {0xC3}});
     },
     "O:400 B6"},
    {"LinkEditIsNoTargetIn64BitFiles", true, [](uint32_t c) { return Rel({0xE8}, c, 0x3010); },
     "O:400 B5"},
    // The operand E8 10 00 00 would itself start a call to rva 0x415 if the
    // search went on at the next byte instead of after the operand.
    {"SearchGoesOnAfterTheOperand", true,
     [](uint32_t) { return Bytes{0xE8, 0xE8, 0x10, 0x00, 0x00, 0x00, 0x90, 0x90}; },
     "O:400 B1 R:14ed B3"},
    {"SearchGoesOnAtNextByteAfterAMiss", true,
     [](uint32_t c) {
         return Join({{0xE8, 0xFF, 0xFF, 0xFF}, Rel({0xE8}, c + 4, 0x1000)});
     },
     "O:400 B5 R:1000"},
    {"ConditionalJumpIsReference", true,
     [](uint32_t c) {
         return Rel({0x0F, 0x84}, c, 0x1200);
     },
     "O:400 B2 R:1200"},
    {"ParityJumpsAreNotReferences", true,
     [](uint32_t c) {
         return Join({Rel({0x0F, 0x8A}, c, 0x1200), Rel({0x0F, 0x8B}, c + 6, 0x1200)});
     },
     "O:400 B12"},
    {"CallThroughRipPointer64", true,
     [](uint32_t c) {
         return Rel({0xFF, 0x15}, c, 0x2010);
     },
     "O:400 B2 R:2010"},
    {"JmpThroughRipPointer64", true,
     [](uint32_t c) {
         return Rel({0xFF, 0x25}, c, 0x2010);
     },
     "O:400 B2 R:2010"},
    {"CallThroughPointerIsNeverReference32", false,
     [](uint32_t c) {
         return Rel({0xFF, 0x15}, c, 0x2010);
     },
     "O:1400 B6"},
    {"LeaRexWRipRelative", true,
     [](uint32_t c) {
         return Rel({0x48, 0x8D, 0x05}, c, 0x2000);
     },
     "O:400 B3 R:2000"},
    {"LeaRexBRipRelative", true,
     [](uint32_t c) {
         return Rel({0x49, 0x8D, 0x05}, c, 0x2000);
     },
     "O:400 B3 R:2000"},
    {"LeaRexRIsNotRecognised", true,
     [](uint32_t c) {
         return Rel({0x4C, 0x8D, 0x05}, c, 0x2000);
     },
     "O:400 B7"},
    {"MovRipRelativeOtherRegister", true,
     [](uint32_t c) {
         return Rel({0x48, 0x8B, 0x3D}, c, 0x2004);
     },
     "O:400 B3 R:2004"},
    {"LeaWithSibIsNotRipRelative", true,
     [](uint32_t c) {
         return Rel({0x48, 0x8D, 0x04}, c, 0x2000);
     },
     "O:400 B7"},
    {"RipRelativeIsDropped32", false,
     [](uint32_t c) {
         return Rel({0x48, 0x8D, 0x05}, c, 0x2000);
     },
     "O:1400 B7"},
    {"CallIntoZeroPageIsReference32", false, [](uint32_t c) { return Rel({0xE8}, c, 0x0800); },
     "O:1400 B1 R:800"},
    {"CallIntoLinkEditIsReference32", false, [](uint32_t c) { return Rel({0xE8}, c, 0x4010); },
     "O:1400 B1 R:4010"},
    {"CallNeedsItsFiveBytesInTheSection", true,
     [](uint32_t) {
         return Bytes{0x90, 0xE8, 0x00, 0x01, 0x00};
     },
     "O:400 B5"},
    {"LeaNeedsItsSevenBytesInTheSection", true,
     [](uint32_t) { return Bytes{0x48, 0x8D, 0x05, 0x00, 0x01, 0x00}; }, "O:400 B6"},
};

INSTANTIATE_TEST_SUITE_P(Table, MachoEmission, testing::ValuesIn(kEmissions),
                         [](const testing::TestParamInfo<EmitCase> &info) {
                             return std::string(info.param.name);
                         });

// Two code sections in __TEXT at the given file offsets and sizes, each with
// a call into __TEXT at its start; the second section's call sits at its end.
ImageSpec TwoSections(uint32_t firstOffset, uint32_t firstSize, uint32_t secondOffset,
                      uint32_t secondSize) {
    ImageSpec spec = macho_fixture::ExecutableSpec(true, {});
    auto &text = spec.segments[1];
    text.sections.clear();
    for (const auto &placed :
         {std::make_pair(firstOffset, firstSize), std::make_pair(secondOffset, secondSize)}) {
        text.sections.push_back({"__text", text.vmAddress + placed.first, placed.second,
                                 placed.first, macho_fixture::kCodeFlags});
        if (placed.second >= 5) {
            const uint32_t at = placed.first + placed.second - 5;
            spec.contents.push_back({at, Rel({0xE8}, at, 0x1000)});
        }
    }
    return spec;
}

TEST(MachoSections, OverlappingSectionIsEmittedAsLiteralBytes) {
    // The second section starts inside the first; its call lies past the
    // first section's end.
    const auto result = macho_test::Disassemble(macho_fixture::BuildImage(
        TwoSections(macho_fixture::kCodeOffset, 0x80, macho_fixture::kCodeOffset + 0x40, 0x80)));
    ASSERT_NE(result.program, nullptr);
    const auto &locations = result.disassembler->rel32Locations();
    EXPECT_NE(std::find(locations.begin(), locations.end(), 0x4BCu), locations.end());
    EXPECT_EQ(Describe(*result.program), "B1024 O:400 B124 R:1000 B11136");
}

TEST(MachoSections, SectionsAreTakenInFileOffsetOrder) {
    // Listed in reverse file order in the load command.
    const auto result = macho_test::Disassemble(
        macho_fixture::BuildImage(TwoSections(0x600, 0x20, macho_fixture::kCodeOffset, 0x10)));
    ASSERT_NE(result.program, nullptr);
    EXPECT_EQ(Describe(*result.program), "B1024 O:400 B12 R:1000 B496 O:600 B28 R:1000 B10720");
}

TEST(MachoSections, EmptyCodeSectionEmitsItsOriginOnce) {
    const auto result = macho_test::Disassemble(macho_fixture::BuildImage(
        TwoSections(macho_fixture::kCodeOffset, 0, macho_fixture::kCodeOffset, 0x10)));
    ASSERT_NE(result.program, nullptr);
    EXPECT_EQ(Describe(*result.program), "B1024 O:400 O:400 B12 R:1000 B11248");
    EXPECT_EQ(macho_test::Assemble(*result.program),
              Bytes(result.bytes.begin(), result.bytes.begin() + 0x3000));
}

TEST(MachoSections, ForeignLocationAtASectionEndStaysBytes) {
    // Both sections lie in a file gap no segment covers, so both start at
    // rva 0: the call found in the first one has its operand at rva 1, where
    // the second, two-byte section has no room for an operand.
    ImageSpec spec = TwoSections(0x1F00, 0x10, 0x1FFE, 2);
    spec.segments[1].fileSize = 0x1F00;
    spec.contents.push_back({0x1F00, Rel({0xE8}, 0, 0x1000)});
    const auto result = macho_test::Disassemble(macho_fixture::BuildImage(spec));
    ASSERT_NE(result.program, nullptr);
    const auto &locations = result.disassembler->rel32Locations();
    EXPECT_NE(std::find(locations.begin(), locations.end(), 1u), locations.end());
    EXPECT_EQ(macho_test::Assemble(*result.program),
              Bytes(result.bytes.begin(), result.bytes.begin() + 0x3000));
}

TEST(MachoSections, DisassemblyNeedsASuccessfulHeaderParse) {
    const Bytes image = macho_fixture::BuildImage(macho_fixture::ExecutableSpec(true, {0xC3}));
    vxdelta::DisassemblerMacho disassembler(image.data(), image.size());
    vxdelta::AsmProgram program(vxdelta::EXE_MACHO_X64);
    EXPECT_FALSE(disassembler.disassemble(&program));
    EXPECT_TRUE(program.instructions().empty());
}

TEST(MachoSections, LabelsGetDefaultIndexesInRvaOrder) {
    const Bytes code =
        Join({Rel({0xE8}, 0x400, 0x2000), Rel({0xE8}, 0x405, 0x1000), Rel({0xE8}, 0x40A, 0x2000)});
    const auto result = macho_test::Disassemble(
        macho_fixture::BuildImage(macho_fixture::ExecutableSpec(true, code)));
    ASSERT_NE(result.program, nullptr);
    const auto &labels = result.program->rel32Labels();
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels.at(0x1000)->index, 0);
    EXPECT_EQ(labels.at(0x2000)->index, 1);
    EXPECT_EQ(labels.at(0x2000)->count, 2);
    EXPECT_TRUE(result.program->abs32Labels().empty());
    EXPECT_EQ(result.program->imageBase(), 0u);
}

}  // namespace
