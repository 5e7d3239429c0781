// The vxdelta front end as a user runs it: real files, exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "test_support.h"

namespace {

using vxdelta_test::Bytes;
using vxdelta_test::ReadFile;
using vxdelta_test::TempPath;
using vxdelta_test::WriteFile;

int RunTool(const std::string &arguments) {
    const std::string command = std::string(VXDELTA_TOOL_PATH) + " " + arguments + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Q(const std::string &name) {
    return "'" + TempPath(name) + "'";
}

TEST(VxdeltaTool, DiffAndApplyDiffRoundTrip) {
    const Bytes old = vxdelta_test::RandomBytes(50000, 1);
    Bytes nw = old;
    nw.insert(nw.begin() + 1000, 300, 7);
    WriteFile(TempPath("t.old"), old);
    WriteFile(TempPath("t.new"), nw);
    for (const char *options : {"", "--method 0", "--method 1 --header", "--header"}) {
        ASSERT_EQ(RunTool(std::string("diff ") + options + " " + Q("t.old") + " " + Q("t.new") +
                          " " + Q("t.diff")),
                  0)
            << options;
        const std::string header =
            std::string(options).find("--header") != std::string::npos ? "--header " : "";
        ASSERT_EQ(
            RunTool("apply-diff " + header + Q("t.old") + " " + Q("t.diff") + " " + Q("t.out")), 0);
        EXPECT_EQ(ReadFile(TempPath("t.out")), nw);
    }
    EXPECT_EQ(RunTool("apply-diff --header " + Q("t.old") + " " + Q("t.old") + " " + Q("t.out")),
              1);
}

TEST(VxdeltaTool, CompressAndDecompressRoundTrip) {
    const Bytes data = vxdelta_test::RandomBytes(10000, 2);
    WriteFile(TempPath("c.in"), data);
    ASSERT_EQ(RunTool("compress --exe " + Q("c.in") + " " + Q("c.lz")), 0);
    ASSERT_EQ(RunTool("-v decompress " + Q("c.lz") + " " + Q("c.out")), 0);
    EXPECT_EQ(ReadFile(TempPath("c.out")), data);
    EXPECT_EQ(RunTool("decompress " + Q("c.in") + " " + Q("c.out2")), 1);
}

TEST(VxdeltaTool, BadUsageExitsWithTwo) {
    EXPECT_EQ(RunTool(""), 2);
    EXPECT_EQ(RunTool("frobnicate"), 2);
    EXPECT_EQ(RunTool("diff onlyone"), 2);
    EXPECT_EQ(RunTool("diff --method 3 a b c"), 2);
    EXPECT_EQ(RunTool("compress --bogus a b"), 2);
}

}  // namespace
