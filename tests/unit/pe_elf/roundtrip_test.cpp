// Every fixture kind through detection, the program pipeline and the
// container tool: the bytes must come back unchanged, and the container must
// really store the disassembled form.
#include <gtest/gtest.h>

#include "container.h"
#include "disassembler.h"
#include "pe_elf_support.h"

namespace pe_elf_test {
namespace {

using vxdelta::ExeType;

class FixtureRoundTrip : public ::testing::TestWithParam<FixtureFile> {};

TEST_P(FixtureRoundTrip, DetectsKindAndReassemblesTheImage) {
    const FixtureFile &fixture = GetParam();
    const Bytes image = LoadFile(fixture.path);
    ASSERT_FALSE(image.empty()) << fixture.path;
    ExeType kind = vxdelta::EXE_UNKNOWN;
    size_t length = 0;
    ASSERT_EQ(vxdelta::DetectExeType(image.data(), image.size(), &kind, &length), vxdelta::C_OK);
    EXPECT_EQ(kind, fixture.kind);
    EXPECT_EQ(length, image.size());
    bool ok = false;
    const Bytes assembled = Reassemble(image, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(assembled == image) << "assembled " << assembled.size() << " of " << image.size();
}

TEST_P(FixtureRoundTrip, ContainerStoresProgramAndRestoresFile) {
    const FixtureFile &fixture = GetParam();
    const Bytes image = LoadFile(fixture.path);
    uint32_t directive = 0;
    const Bytes restored = ToolRoundTrip(image, fixture.label, &directive);
    EXPECT_EQ(directive, vxdelta::kDirectiveDisAndDiff);
    EXPECT_TRUE(restored == image);
}

std::string FixtureName(const ::testing::TestParamInfo<FixtureFile> &info) {
    return info.param.label;
}

INSTANTIATE_TEST_SUITE_P(AllKinds, FixtureRoundTrip, ::testing::ValuesIn(AllFixtureFiles()),
                         FixtureName);

}  // namespace
}  // namespace pe_elf_test
