// The Mach-O header parse on hand-assembled images: what it accepts and
// records, and the exact reason for each image it rejects.
#include <gtest/gtest.h>

#include <functional>

#include "disassembler.h"
#include "disassembler_macho.h"
#include "macho_builder.h"

namespace {

using macho_fixture::Bytes;
using macho_fixture::ImageSpec;

const Bytes kCode = {0x55, 0x90, 0xC3};  // push, nop, ret

// Segment indexes of ExecutableSpec.
constexpr size_t kPageZero = 0;
constexpr size_t kText = 1;
constexpr size_t kData = 2;
constexpr size_t kLinkEdit = 3;

struct RejectCase {
    const char *name;
    bool wide;
    std::function<void(ImageSpec *)> change;
    size_t truncateTo;  // 0: whole image
    const char *reason;
};

Bytes Build(const RejectCase &row) {
    ImageSpec spec = macho_fixture::ExecutableSpec(row.wide, kCode);
    if (row.change) {
        row.change(&spec);
    }
    Bytes image = macho_fixture::BuildImage(spec);
    if (row.truncateTo != 0) {
        image.resize(row.truncateTo);
    }
    return image;
}

class MachoHeaderRejects : public testing::TestWithParam<RejectCase> {};

TEST_P(MachoHeaderRejects, WithItsReason) {
    const Bytes image = Build(GetParam());
    vxdelta::DisassemblerMacho disassembler(image.data(), image.size());
    EXPECT_FALSE(disassembler.parseHeader());
    EXPECT_EQ(disassembler.failureReason(), GetParam().reason);
    vxdelta::ExeType kind = vxdelta::EXE_MACHO_X64;
    size_t length = 1;
    EXPECT_EQ(vxdelta::DetectExeType(image.data(), image.size(), &kind, &length),
              vxdelta::C_INPUT_NOT_RECOGNIZED);
    EXPECT_EQ(kind, vxdelta::EXE_UNKNOWN);
    EXPECT_EQ(length, 0u);
}

const RejectCase kRejects[] = {
    {"ThirtyOneBytes", true, nullptr, 31, "Too small"},
    {"BigEndianMagic", true, [](ImageSpec *s) { s->magic = 0xCEFAEDFE; }, 0, "Unknown magic type"},
    {"X86CpuIn64BitFile", true, [](ImageSpec *s) { s->cpuType = 7; }, 0, "unsupported cpu type"},
    {"X64CpuIn32BitFile", false, [](ImageSpec *s) { s->cpuType = 0x01000007; }, 0,
     "unsupported cpu type"},
    {"ObjectFile", true, [](ImageSpec *s) { s->fileType = 1; }, 0,
     "Unsupported filetype in header"},
    {"CommandHeaderPastEnd", true, nullptr, 100, "file to small in load commands"},
    {"CommandSizePastEnd", true, nullptr, 150, "file to small in load commands"},
    {"CommandSizeHugePastEnd", true, [](ImageSpec *s) { s->segments[kText].commandSize = ~0u; }, 0,
     "file to small in load commands"},
    {"CommandSmallerThanItsHeader", true, [](ImageSpec *s) { s->commandCount = 5; }, 0,
     "bad load command size"},
    {"Segment64In32BitFile", false, [](ImageSpec *s) { s->segments[kText].command = 0x19; }, 0,
     "LC_SEGMENT_64 not supported"},
    {"Segment32In64BitFile", true, [](ImageSpec *s) { s->segments[kText].command = 1; }, 0,
     "LC_SEGMENT not supported"},
    {"Segment64Of71Bytes", true, [](ImageSpec *s) { s->segments[kText].commandSize = 71; }, 0,
     "bad LC_SEGMENT_64"},
    {"Segment32Of55Bytes", false, [](ImageSpec *s) { s->segments[kText].commandSize = 55; }, 0,
     "bad LC_SEGMENT"},
    {"SectionTableBeyondCommand64", true, [](ImageSpec *s) { s->segments[kText].sectionCount = 2; },
     0, "sections too small"},
    {"SectionTableBeyondCommand32", false,
     [](ImageSpec *s) { s->segments[kText].sectionCount = 2; }, 0, "sections too small"},
    // 80 and 68 times 2^30 are multiples of 2^32: a 32-bit product would wrap to 0.
    {"SectionCountWrapping64", true,
     [](ImageSpec *s) { s->segments[kText].sectionCount = 0x40000000; }, 0, "sections too small"},
    {"SectionCountWrapping32", false,
     [](ImageSpec *s) { s->segments[kText].sectionCount = 0x40000000; }, 0, "sections too small"},
    {"SectionBelowSegment", true,
     [](ImageSpec *s) {
         s->segments[kText].sections[0].address = s->segments[kText].vmAddress - 0x10;
     },
     0, "section larger than segment"},
    {"SectionBeyondSegmentEnd", true,
     [](ImageSpec *s) { s->segments[kText].sections[0].size = 0x1C01; }, 0,
     "section larger than segment"},
    {"SectionBeyondSegmentEnd32", false,
     [](ImageSpec *s) { s->segments[kText].sections[0].size = 0x1C01; }, 0,
     "section larger than segment"},
    {"SegmentBeyondFile", true, [](ImageSpec *s) { s->segments[kData].fileSize = 0x2000; }, 0,
     "segment too large"},
    {"SegmentFileRangeWraps32", false,
     [](ImageSpec *s) {
         s->segments[kLinkEdit].fileOffset = 0xFFFFF000;
         s->segments[kLinkEdit].fileSize = 0x2000;
     },
     0, "segment too large"},
    {"VmSizeOver32Bits", true, [](ImageSpec *s) { s->segments[kText].vmSize = 0x100000000ULL; }, 0,
     "overflow"},
    {"FileOffsetOver32Bits", true,
     [](ImageSpec *s) { s->segments[kData].fileOffset = 0x100002000ULL; }, 0, "overflow"},
    {"FileSizeOver32Bits", true, [](ImageSpec *s) { s->segments[kData].fileSize = 0x100000000ULL; },
     0, "overflow"},
    {"SectionSizeOver32Bits", true,
     [](ImageSpec *s) { s->segments[kText].sections[0].size = 0x100000000ULL; }, 0, "overflow"},
    {"RelativeEndOver32Bits", true,
     [](ImageSpec *s) { s->segments[kData].vmAddress = 0x100000000ULL + 0xFFFFF000ULL; }, 0,
     "overflow"},
    {"RelativeEndOver32Bits32", false,
     [](ImageSpec *s) { s->segments[kData].vmAddress = 0xFFFFF800; }, 0, "overflow"},
    {"NoCodeSection", true, [](ImageSpec *s) { s->segments[kText].sections[0].flags = 0; }, 0,
     "Resource-only executables are not yet supported"},
    {"StubsAreNotCodeSections", true,
     [](ImageSpec *s) { s->segments[kText].sections[0].flags = 0x80000408; }, 0,
     "Resource-only executables are not yet supported"},
    {"CodeSectionPastFileEnd", true,
     [](ImageSpec *s) { s->segments[kText].sections[0].fileOffset = 0x30FF; }, 0,
     "section outside the image"},
    {"CodeSectionFileRangeWraps", false,
     [](ImageSpec *s) { s->segments[kText].sections[0].fileOffset = 0xFFFFFFFF; }, 0,
     "section outside the image"},
};

INSTANTIATE_TEST_SUITE_P(Table, MachoHeaderRejects, testing::ValuesIn(kRejects),
                         [](const testing::TestParamInfo<RejectCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(MachoHeader, SixtyFourBitExecutableKeepsOnlySectionedSegments) {
    const Bytes image = macho_fixture::BuildImage(macho_fixture::ExecutableSpec(true, kCode));
    vxdelta::DisassemblerMacho disassembler(image.data(), image.size());
    EXPECT_EQ(disassembler.failureReason(), "uninitialized");
    ASSERT_TRUE(disassembler.parseHeader()) << disassembler.failureReason();
    EXPECT_TRUE(disassembler.ok());
    EXPECT_EQ(disassembler.kind(), vxdelta::EXE_MACHO_X64);
    // Zero page and link-edit have no sections: base is __TEXT, the image
    // ends with __DATA.
    ASSERT_EQ(disassembler.segments().size(), 2u);
    EXPECT_EQ(disassembler.segments()[0].vmAddress, 0u);
    EXPECT_EQ(disassembler.segments()[1].vmAddress, macho_fixture::kTextFileSize);
    EXPECT_EQ(disassembler.length(), macho_fixture::kTextFileSize + macho_fixture::kDataFileSize);
    EXPECT_EQ(disassembler.end() - disassembler.start(), static_cast<ptrdiff_t>(image.size()));
    ASSERT_EQ(disassembler.codeSections().size(), 1u);
    EXPECT_EQ(disassembler.codeSections()[0].address, macho_fixture::kCodeOffset);
    EXPECT_EQ(disassembler.fileOffsetToRva(macho_fixture::kCodeOffset + 1),
              macho_fixture::kCodeOffset + 1);
}

TEST(MachoHeader, ThirtyTwoBitExecutableKeepsZeroPageAndLinkEdit) {
    const Bytes image = macho_fixture::BuildImage(macho_fixture::ExecutableSpec(false, kCode));
    vxdelta::DisassemblerMacho disassembler(image.data(), image.size());
    ASSERT_TRUE(disassembler.parseHeader()) << disassembler.failureReason();
    EXPECT_EQ(disassembler.kind(), vxdelta::EXE_MACHO_X86);
    ASSERT_EQ(disassembler.segments().size(), 4u);
    EXPECT_EQ(disassembler.segments()[kPageZero].vmAddress, 0u);
    EXPECT_EQ(disassembler.segments()[kText].vmAddress, 0x1000u);
    // The zero page sits at 0, so rvas are the vm addresses.
    EXPECT_EQ(disassembler.fileOffsetToRva(macho_fixture::kCodeOffset),
              0x1000u + macho_fixture::kCodeOffset);
    EXPECT_EQ(disassembler.length(), image.size());
}

TEST(MachoHeader, LengthIsReducedToTheExtentNeverIncreased) {
    ImageSpec spec = macho_fixture::ExecutableSpec(true, kCode);
    spec.fileSize += 0x500;  // trailing bytes outside every segment
    const Bytes image = macho_fixture::BuildImage(spec);
    vxdelta::ExeType kind = vxdelta::EXE_UNKNOWN;
    size_t length = 0;
    ASSERT_EQ(vxdelta::DetectExeType(image.data(), image.size(), &kind, &length), vxdelta::C_OK);
    EXPECT_EQ(kind, vxdelta::EXE_MACHO_X64);
    EXPECT_EQ(length, macho_fixture::kTextFileSize + macho_fixture::kDataFileSize);
}

TEST(MachoHeader, RvaToFileOffsetThroughTheSegments) {
    const Bytes image = macho_fixture::BuildImage(macho_fixture::ExecutableSpec(false, kCode));
    vxdelta::DisassemblerMacho disassembler(image.data(), image.size());
    ASSERT_TRUE(disassembler.parseHeader());
    size_t offset = 0;
    ASSERT_TRUE(disassembler.rvaToFileOffset(0x1000 + macho_fixture::kCodeOffset, &offset));
    EXPECT_EQ(offset, macho_fixture::kCodeOffset);
    EXPECT_EQ(disassembler.rvaToPointer(0x1000 + macho_fixture::kCodeOffset),
              image.data() + macho_fixture::kCodeOffset);
    // Inside the zero page, which has no file bytes.
    EXPECT_FALSE(disassembler.rvaToFileOffset(0x10, &offset));
    // Link-edit: vm size 0x1000 but only 0x100 file bytes.
    EXPECT_FALSE(disassembler.rvaToFileOffset(0x4000 + macho_fixture::kLinkEditFileSize, &offset));
    EXPECT_FALSE(disassembler.rvaToFileOffset(0x900000, &offset));
    EXPECT_EQ(disassembler.rvaToPointer(0x900000), nullptr);
}

}  // namespace
