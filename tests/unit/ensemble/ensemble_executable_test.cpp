// Ensemble patches between two builds of the same program, for every
// executable kind of the fixtures and for universal Mach-O files: the
// front end's patch applies back byte for byte, and so does a patch that is
// made to go through the element pipeline.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ensemble_generator.h"
#include "patch_builder.h"
#include "test_support.h"
#include "vxdelta.h"
#include "vxm_macho_fixtures.h"
#include "vxm_pe_elf_fixtures.h"

namespace {

using vxdelta_test::Bytes;
using vxdelta_test::ReadFile;

struct ExecutablePair {
    std::string name;
    std::string v1;
    std::string v2;
    int elements;  // recognised images that pair up
};

std::ostream &operator<<(std::ostream &out, const ExecutablePair &pair) {
    return out << pair.name;
}

std::vector<ExecutablePair> Pairs() {
    std::vector<ExecutablePair> pairs;
    for (const auto &fixture : vxm_pe_elf_fixtures::kFixtures) {
        pairs.push_back({fixture.name, fixture.v1, fixture.v2, 1});
    }
    pairs.push_back({"macho_x64", vxm_macho_fixtures::kAppV1, vxm_macho_fixtures::kAppV2, 1});
    // x86-64 and i386 slices pair up; the arm64 slice is not recognised.
    pairs.push_back({"universal", vxm_macho_fixtures::kUniversal, ENSEMBLE_UNIVERSAL_V2, 2});
    return pairs;
}

int RunTool(const std::string &arguments) {
    const std::string command =
        std::string(VXDELTA_TOOL_PATH) + " " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Q(const std::string &path) {
    return "'" + path + "'";
}

class ExecutableRoundTrip : public ::testing::TestWithParam<ExecutablePair> {};

TEST_P(ExecutableRoundTrip, ToolPatchAppliesByteForByte) {
    const ExecutablePair &pair = GetParam();
    const std::string patch = vxdelta_test::TempPath(pair.name + ".patch");
    const std::string out = vxdelta_test::TempPath(pair.name + ".out");
    ASSERT_EQ(RunTool("patch " + Q(pair.v1) + " " + Q(pair.v2) + " " + Q(patch)), 0);
    ASSERT_EQ(RunTool("apply " + Q(pair.v1) + " " + Q(patch) + " " + Q(out)), 0);
    EXPECT_EQ(ReadFile(out), ReadFile(pair.v2));
}

TEST_P(ExecutableRoundTrip, ElementPipelineAppliesByteForByte) {
    const ExecutablePair &pair = GetParam();
    const Bytes old = ReadFile(pair.v1);
    const Bytes newData = ReadFile(pair.v2);
    vxdelta::WriteStream patch;
    ASSERT_EQ(vxdelta::GenerateEnsemblePatch(vxdelta_test::View(old), vxdelta_test::View(newData),
                                             &patch, vxdelta::ElementUse::kAlways),
              vxdelta::C_OK);
    EXPECT_EQ(ensemble_test::ElementsIn(vxdelta_test::Contents(patch)), pair.elements);
    vxdelta::WriteStream rebuilt;
    ASSERT_EQ(vxdelta::ApplyEnsemblePatchStreams(vxdelta_test::View(old), patch.reader(), &rebuilt),
              vxdelta::C_OK);
    EXPECT_EQ(vxdelta_test::Contents(rebuilt), newData);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExecutableRoundTrip, ::testing::ValuesIn(Pairs()),
                         [](const auto &info) { return info.param.name; });

TEST(ExecutablePatch, KindsThatDoNotPairGiveAPatchWithoutElements) {
    const Bytes old = ReadFile(vxm_macho_fixtures::kAppV1);
    const Bytes newData = ReadFile(vxm_pe_elf_fixtures::kFixtures[0].v2);
    vxdelta::WriteStream patch;
    ASSERT_EQ(vxdelta::GenerateEnsemblePatch(vxdelta_test::View(old), vxdelta_test::View(newData),
                                             &patch, vxdelta::ElementUse::kAlways),
              vxdelta::C_OK);
    EXPECT_EQ(ensemble_test::ElementsIn(vxdelta_test::Contents(patch)), 0);
    vxdelta::WriteStream rebuilt;
    ASSERT_EQ(vxdelta::ApplyEnsemblePatchStreams(vxdelta_test::View(old), patch.reader(), &rebuilt),
              vxdelta::C_OK);
    EXPECT_EQ(vxdelta_test::Contents(rebuilt), newData);
}

}  // namespace
