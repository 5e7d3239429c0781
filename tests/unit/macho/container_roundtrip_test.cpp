// vxdelta compress [--exe] then decompress on the Mach-O fixtures, as a
// user runs the tool: the file comes back byte for byte, and --exe stores
// every file with a recognised image (universal files included) as
// directive 2 with one encoded program per recognised image, other files
// as directive 1.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "lzma2_section.h"
#include "streams.h"
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

// The directive of a container and, for directive 2, the number of encoded
// programs in its payload (the streams before the final diff).
struct Layout {
    uint32_t directive = 0;
    size_t programs = 0;
};

Layout ReadLayout(const Bytes &container) {
    vxdelta::ReadStream in(container.data(), container.size());
    uint32_t magic = 0;
    uint32_t checksum = 0;
    Layout layout;
    EXPECT_TRUE(in.readVarint(&magic) && in.readVarint(&checksum) &&
                in.readVarint(&layout.directive));
    if (layout.directive == 2) {
        vxdelta::WriteStream payload;
        EXPECT_TRUE(vxdelta::DecodeLzma2Section(&in, &payload));
        vxdelta::ReadStreamSet set;
        EXPECT_TRUE(set.init(payload.data(), payload.length()));
        layout.programs = set.count() - 1;
    }
    return layout;
}

struct RoundTrip {
    const char *name;
    const char *path;
    uint32_t directiveWithExe;
    size_t programs;  // with --exe
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
        const Layout layout = ReadLayout(vxdelta_test::ReadFile(packed));
        EXPECT_EQ(layout.directive, exe ? GetParam().directiveWithExe : 1u) << "exe " << exe;
        EXPECT_EQ(layout.programs, exe ? GetParam().programs : 0u) << "exe " << exe;
        std::string decompress = "decompress " + Quoted(packed);
        decompress += " " + Quoted(out);
        ASSERT_EQ(RunTool(decompress), 0);
        EXPECT_EQ(vxdelta_test::ReadFile(out), original) << "exe " << exe;
    }
}

const RoundTrip kRoundTrips[] = {
    {"Executable64V1", vxm_macho_fixtures::kAppV1, 2, 1},
    {"Executable64V2", vxm_macho_fixtures::kAppV2, 2, 1},
    {"Library64", vxm_macho_fixtures::kLibrary, 2, 1},
    {"Executable32", vxm_macho_fixtures::kApp32, 2, 1},
    // The x86-64 and i386 slices; the arm64 slice is left to the diff.
    {"UniversalX64I386Arm64", vxm_macho_fixtures::kUniversal, 2, 2},
    {"Arm64IsNotRecognised", vxm_macho_fixtures::kAppArm64, 1, 0},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, MachoContainer, testing::ValuesIn(kRoundTrips),
                         [](const testing::TestParamInfo<RoundTrip> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
