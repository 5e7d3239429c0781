// The ensemble patch generator on pairs without executables: every patch it
// writes applies back to the new file byte for byte, through the engine and
// through the vxdelta front end.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "ensemble_format.h"
#include "test_support.h"
#include "vxdelta.h"

namespace {

using vxdelta_test::Bytes;
using vxdelta_test::RandomBytes;

struct FilePair {
    const char *name;
    std::function<Bytes()> old;
    std::function<Bytes()> newData;
};

std::ostream &operator<<(std::ostream &out, const FilePair &pair) {
    return out << pair.name;
}

Bytes Edited(Bytes data) {
    data.insert(data.begin() + 5000, 777, 0x33);
    data.erase(data.begin() + 20000, data.begin() + 20500);
    for (size_t i = 30000; i < 30100; ++i) {
        data[i] ^= 0x5A;
    }
    return data;
}

Bytes Text(int version) {
    std::string text;
    for (int line = 0; line < 2000; ++line) {
        text += "line " + std::to_string(line * (line % 7 == 0 ? version : 1)) + " of the notes\n";
    }
    return vxdelta_test::ToBytes(text);
}

const FilePair kPairs[] = {
    {"EditedRandomData", [] { return RandomBytes(60000, 5); },
     [] { return Edited(RandomBytes(60000, 5)); }},
    {"TextRevision", [] { return Text(1); }, [] { return Text(2); }},
    {"Identical", [] { return RandomBytes(4000, 6); }, [] { return RandomBytes(4000, 6); }},
    {"Unrelated", [] { return RandomBytes(3000, 7); }, [] { return RandomBytes(5000, 8); }},
    {"FromEmpty", [] { return Bytes(); }, [] { return RandomBytes(2000, 9); }},
    {"ToEmpty", [] { return RandomBytes(2000, 9); }, [] { return Bytes(); }},
    {"BothEmpty", [] { return Bytes(); }, [] { return Bytes(); }},
};

class EnsembleRoundTrip : public ::testing::TestWithParam<FilePair> {};

TEST_P(EnsembleRoundTrip, PatchAppliesBackToTheNewFile) {
    const Bytes old = GetParam().old();
    const Bytes newData = GetParam().newData();
    vxdelta::WriteStream patch;
    ASSERT_EQ(vxdelta::GenerateEnsemblePatch(vxdelta_test::View(old), vxdelta_test::View(newData),
                                             &patch),
              vxdelta::C_OK);
    vxdelta::WriteStream rebuilt;
    ASSERT_EQ(vxdelta::ApplyEnsemblePatchStreams(vxdelta_test::View(old), patch.reader(), &rebuilt),
              vxdelta::C_OK);
    EXPECT_EQ(vxdelta_test::Contents(rebuilt), newData);
}

INSTANTIATE_TEST_SUITE_P(Pairs, EnsembleRoundTrip, ::testing::ValuesIn(kPairs),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(EnsembleGenerate, SimilarFilesGiveASmallPatchForThatOldFileOnly) {
    const Bytes old = RandomBytes(60000, 5);
    const Bytes newData = Edited(old);
    vxdelta::WriteStream patch;
    ASSERT_EQ(vxdelta::GenerateEnsemblePatch(vxdelta_test::View(old), vxdelta_test::View(newData),
                                             &patch),
              vxdelta::C_OK);
    EXPECT_LT(patch.length(), 2000U);
    vxdelta::WriteStream rebuilt;
    EXPECT_EQ(
        vxdelta::ApplyEnsemblePatchStreams(vxdelta_test::View(newData), patch.reader(), &rebuilt),
        vxdelta::C_BAD_ENSEMBLE_CRC);
}

int RunTool(const std::string &arguments, const std::string &output = "/dev/null") {
    const std::string command =
        std::string(VXDELTA_TOOL_PATH) + " " + arguments + " >'" + output + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Q(const std::string &name) {
    return "'" + vxdelta_test::TempPath(name) + "'";
}

TEST(EnsembleTool, PatchThenApplyRebuildsTheNewFile) {
    const Bytes old = Text(1);
    const Bytes newData = Text(3);
    vxdelta_test::WriteFile(vxdelta_test::TempPath("v1.txt"), old);
    vxdelta_test::WriteFile(vxdelta_test::TempPath("v2.txt"), newData);
    ASSERT_EQ(RunTool("patch " + Q("v1.txt") + " " + Q("v2.txt") + " " + Q("v1.patch")), 0);
    const std::string report = vxdelta_test::TempPath("report.txt");
    ASSERT_EQ(RunTool("apply " + Q("v1.txt") + " " + Q("v1.patch") + " " + Q("out.txt"), report),
              0);
    EXPECT_EQ(vxdelta_test::ReadFile(vxdelta_test::TempPath("out.txt")), newData);
    EXPECT_EQ(vxdelta_test::ReadFile(report), vxdelta_test::ToBytes("status 1\n"));

    EXPECT_EQ(RunTool("apply " + Q("v2.txt") + " " + Q("v1.patch") + " " + Q("bad.txt"), report),
              1);
    EXPECT_EQ(vxdelta_test::ReadFile(report), vxdelta_test::ToBytes("status 8\n"));
}

TEST(EnsembleTool, BadUsageAndMissingInputs) {
    EXPECT_EQ(RunTool("patch onlyone two"), 2);
    EXPECT_EQ(RunTool("apply a b c d"), 2);
    EXPECT_EQ(RunTool("patch " + Q("absent") + " " + Q("absent") + " " + Q("p")), 1);
}

}  // namespace
