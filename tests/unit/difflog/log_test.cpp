#include "log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using difflog::LogLevel_CRITICAL;
using difflog::LogLevel_DEBUG;
using difflog::LogLevel_ERROR;

struct Record {
    std::string message;
    int level;
    std::string category;
    uint64_t id;
    std::string timestamp;
    std::string line;
};

class CaptureLog : public difflog::LogBase {
public:
    void flush() override { ++flushes; }
    void write(const std::string &message, int level, const std::string &category, uint64_t id,
               const std::string &timestamp, const std::string &line) override {
        records.push_back({message, level, category, id, timestamp, line});
    }
    std::vector<Record> records;
    int flushes = 0;
};

class LogTest : public ::testing::Test {
protected:
    void TearDown() override {
        difflog::setLogThreshold(difflog::LogLevel_DEVEL);
        difflog::setLogTimestampStyle(0);
        difflog::setLogLocalTime(false);
        difflog::setCriticalHandler({});
    }
    CaptureLog capture;
};

struct TimestampCase {
    int style;
    const char *pattern;
};

class TimestampStyleTest : public LogTest, public ::testing::WithParamInterface<TimestampCase> {};

// Style 0 is zero-filled to 26 columns; a whole second gets a trailing ".".
TEST_P(TimestampStyleTest, FormatsTimestampAndPrefix) {
    difflog::setLogTimestampStyle(GetParam().style);
    difflog::logMessage("hello", LogLevel_ERROR, "cat", 42);
    ASSERT_EQ(capture.records.size(), 1u);
    const Record &r = capture.records[0];
    EXPECT_TRUE(std::regex_match(r.timestamp, std::regex(GetParam().pattern))) << r.timestamp;
    EXPECT_EQ(r.line, r.timestamp + "|ERROR   |cat           |42 |hello");
    EXPECT_EQ(r.message, "hello");
    EXPECT_EQ(r.category, "cat");
    EXPECT_EQ(r.id, 42u);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, TimestampStyleTest,
    ::testing::Values(
        TimestampCase{
            0,
            R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})|(000000\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.))"},
        TimestampCase{2, R"(\d{8}T\d{6}(\.\d{6})?)"},
        TimestampCase{1, R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{6})?)"}));

TEST_F(LogTest, EmptyIdAndLongFieldsAreNotCut) {
    difflog::logMessage("m", difflog::LogLevel_WARNING, "a-category-of-20-chr", 0);
    difflog::logMessage("m", difflog::LogLevel_DEVEL, "", 123456);
    ASSERT_EQ(capture.records.size(), 2u);
    const std::string ts0 = capture.records[0].timestamp;
    EXPECT_EQ(capture.records[0].line, ts0 + "|WARNING |a-category-of-20-chr|   |m");
    const std::string ts1 = capture.records[1].timestamp;
    EXPECT_EQ(capture.records[1].line, ts1 + "|DEVELOP |              |123456|m");
}

TEST_F(LogTest, ContinuationLinesAlignUnderMessageStart) {
    difflog::logMessage("first\nsecond", LogLevel_ERROR, "", 0);
    ASSERT_EQ(capture.records.size(), 1u);
    const Record &r = capture.records[0];
    const std::string prefix = r.timestamp + "|ERROR   |              |   |";
    EXPECT_EQ(r.line, prefix + "first\n" + std::string(prefix.size(), ' ') + "second");
    EXPECT_EQ(r.message, "first\nsecond");
}

TEST_F(LogTest, ThresholdFiltersMoreVerboseLevels) {
    difflog::logMessage("debug", LogLevel_DEBUG, "", 0);
    difflog::setLogThreshold(LogLevel_ERROR);
    difflog::logMessage("debug", LogLevel_DEBUG, "", 0);
    difflog::logMessage("error", LogLevel_ERROR, "", 0);
    ASSERT_EQ(capture.records.size(), 2u);
    EXPECT_EQ(capture.records[0].message, "debug");
    EXPECT_EQ(capture.records[1].message, "error");
}

TEST_F(LogTest, SinksUnregisterWhenDestroyed) {
    const int before = difflog::registeredLogCount();
    {
        CaptureLog second;
        EXPECT_EQ(difflog::registeredLogCount(), before + 1);
        difflog::logMessage("both", LogLevel_ERROR, "", 0);
        EXPECT_EQ(second.records.size(), 1u);
    }
    EXPECT_EQ(difflog::registeredLogCount(), before);
    difflog::logMessage("one", LogLevel_ERROR, "", 0);
    EXPECT_EQ(capture.records.size(), 2u);
}

TEST_F(LogTest, DatabaseQueryNoiseIsDropped) {
    difflog::logMessage("sqlite3_prepare failed no such column: string_id", LogLevel_ERROR,
                        "DatabaseQuery", 0);
    difflog::logMessage("x db_exec() select * from instance_properties where string_id = 'y",
                        LogLevel_ERROR, "DatabaseQuery", 0);
    difflog::logMessage("sqlite3_prepare failed no such column: string_id", LogLevel_ERROR,
                        "OtherCategory", 0);
    ASSERT_EQ(capture.records.size(), 1u);
    EXPECT_EQ(capture.records[0].category, "OtherCategory");
}

TEST_F(LogTest, LevelNames) {
    const char *expected[] = {"CRITICAL", "ERROR", "WARNING", "DEBUG", "INFO", "DEVELOP"};
    for (int level = 0; level <= difflog::LogLevel_DEVEL; ++level) {
        EXPECT_STREQ(difflog::logLevelName(level), expected[level]);
        EXPECT_STREQ(difflog::logLevelNameChecked(level), expected[level]);
    }
    EXPECT_STREQ(difflog::logLevelName(6), "");
}

TEST_F(LogTest, LogStreamLogsOnDestruction) {
    { difflog::LogStream(LogLevel_DEBUG) << "TrimLabels: threshold " << 5; }
    ASSERT_EQ(capture.records.size(), 1u);
    EXPECT_EQ(capture.records[0].message, "TrimLabels: threshold 5");
    EXPECT_EQ(capture.records[0].level, LogLevel_DEBUG);
    EXPECT_EQ(capture.records[0].id, 0u);
}

TEST(AssertionText, MatchesTheEngineFormat) {
    EXPECT_EQ(difflog::assertionText("value == narrowed_value",
                                     "../../deps/vxdelta/src/lib/streams.cpp", 209),
              "Assertion \"value == narrowed_value\" failed at "
              "../../deps/vxdelta/src/lib/streams.cpp:209; ");
}

using LogDeathTest = LogTest;

TEST_F(LogDeathTest, CriticalEndsProcessWithStatusOne) {
    EXPECT_EXIT(difflog::logMessage("boom", LogLevel_CRITICAL, "", 0), ::testing::ExitedWithCode(1),
                "");
}

TEST_F(LogDeathTest, CriticalEndsProcessAboveThresholdToo) {
    difflog::setLogThreshold(-1);
    EXPECT_EXIT(difflog::logMessage("boom", LogLevel_CRITICAL, "", 0), ::testing::ExitedWithCode(1),
                "");
}

// The child writes the handler's and the sink's view to stderr before it
// exits, so the parent can check both were called with the formatted line.
TEST_F(LogDeathTest, CriticalReachesSinksFlushAndHandlerBeforeExit) {
    EXPECT_EXIT(
        {
            struct EchoLog : difflog::LogBase {
                void flush() override { fprintf(stderr, "flushed\n"); }
                void write(const std::string &, int, const std::string &, uint64_t,
                           const std::string &, const std::string &line) override {
                    fprintf(stderr, "sink:%s\n", line.c_str());
                }
            } echo;
            difflog::setCriticalHandler(
                [](const std::string &message, const std::string &, uint64_t, const std::string &,
                   const std::string &) { fprintf(stderr, "handler:%s\n", message.c_str()); });
            difflog::assertionFailed("encHandle", "../../deps/vxdelta/src/lib/lzmaioout.cpp", 7);
        },
        ::testing::ExitedWithCode(1),
        "sink:.*\\|CRITICAL\\|              \\|   \\|Assertion \"encHandle\" failed at "
        "\\.\\./\\.\\./deps/vxdelta/src/lib/lzmaioout\\.cpp:7; \nflushed\nhandler:Assertion");
}

TEST_F(LogDeathTest, CheckedLevelNameAssertsOutOfRange) {
    EXPECT_EXIT(difflog::logLevelNameChecked(6), ::testing::ExitedWithCode(1), "");
}

TEST_F(LogTest, FilteredCriticalDoesNotEndProcess) {
    difflog::logMessage("db_exec() select * from instance_properties where string_id = 'k'",
                        LogLevel_CRITICAL, "DatabaseQuery", 0);
    EXPECT_TRUE(capture.records.empty());
}

}  // namespace
