// vxdelta compress [--exe] then decompress on the Mach-O fixtures, as a
// user runs the tool: the file comes back byte for byte, and --exe stores
// every file with a recognised image (universal files included) as
// directive 2, other files as directive 1.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "test_support.h"
#include "vxm_macho_fixtures.h"

namespace {

using vxdelta_test::Bytes;

int RunTool(const std::string &arguments) {
    const std::string command = std::string(VXDELTA_TOOL_PATH) + " " + arguments + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string &path) {
    return "'" + path + "'";
}

// The third varint of a container: its preprocessing directive.
uint32_t Directive(const Bytes &container) {
    size_t at = 0;
    uint32_t value = 0;
    for (int field = 0; field < 3; ++field) {
        value = 0;
        for (int shift = 0; at < container.size(); shift += 7) {
            const uint8_t byte = container[at++];
            value |= static_cast<uint32_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) {
                break;
            }
        }
    }
    return value;
}

struct RoundTrip {
    const char *name;
    const char *path;
    uint32_t directiveWithExe;
};

class MachoContainer : public testing::TestWithParam<RoundTrip> {};

TEST_P(MachoContainer, CompressDecompressGivesTheFileBack) {
    const Bytes original = vxdelta_test::ReadFile(GetParam().path);
    ASSERT_FALSE(original.empty());
    for (const bool exe : {true, false}) {
        const std::string packed = vxdelta_test::TempPath(std::string(GetParam().name) + ".lz");
        const std::string out = vxdelta_test::TempPath(std::string(GetParam().name) + ".out");
        std::string compress = exe ? "compress --exe " : "compress ";
        compress += Quoted(GetParam().path);
        compress += " " + Quoted(packed);
        ASSERT_EQ(RunTool(compress), 0);
        EXPECT_EQ(Directive(vxdelta_test::ReadFile(packed)), exe ? GetParam().directiveWithExe : 1u)
            << "exe " << exe;
        std::string decompress = "decompress " + Quoted(packed);
        decompress += " " + Quoted(out);
        ASSERT_EQ(RunTool(decompress), 0);
        EXPECT_EQ(vxdelta_test::ReadFile(out), original) << "exe " << exe;
    }
}

const RoundTrip kRoundTrips[] = {
    {"Executable64V1", vxm_macho_fixtures::kAppV1, 2},
    {"Executable64V2", vxm_macho_fixtures::kAppV2, 2},
    {"Library64", vxm_macho_fixtures::kLibrary, 2},
    {"Executable32", vxm_macho_fixtures::kApp32, 2},
    {"UniversalX64I386Arm64", vxm_macho_fixtures::kUniversal, 2},
    {"Arm64IsNotRecognised", vxm_macho_fixtures::kAppArm64, 1},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, MachoContainer, testing::ValuesIn(kRoundTrips),
                         [](const testing::TestParamInfo<RoundTrip> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
