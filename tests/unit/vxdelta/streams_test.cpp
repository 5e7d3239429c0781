#include "streams.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "checksum.h"
#include "exe_type.h"
#include "test_support.h"

namespace {

using vxdelta_test::Bytes;
using vxdelta_test::Contents;
using vxdelta_test::SerializedSet;
using vxdelta_test::Varint;
using vxdelta_test::View;

struct VarintCase {
    Bytes input;
    bool ok;
    uint32_t value;
    size_t consumed;
};

class VarintDecodeTest : public ::testing::TestWithParam<VarintCase> {};

TEST_P(VarintDecodeTest, DecodesOrFailsWithoutMoving) {
    const VarintCase &c = GetParam();
    vxdelta::ReadStream stream = View(c.input);
    uint32_t value = 12345;
    ASSERT_EQ(stream.readVarint(&value), c.ok);
    if (c.ok) {
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(c.input.size() - stream.remaining(), c.consumed);
    } else {
        EXPECT_EQ(value, 12345u);
        EXPECT_EQ(stream.remaining(), c.input.size());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, VarintDecodeTest,
    ::testing::Values(VarintCase{{0x00}, true, 0, 1}, VarintCase{{0x7F, 0x55}, true, 127, 1},
                      VarintCase{{0x80, 0x01}, true, 128, 2},
                      VarintCase{{0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, true, 0xFFFFFFFF, 5},
                      // Bits above bit 31 in the fifth byte are dropped.
                      VarintCase{{0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, true, 0xFFFFFFFF, 5},
                      VarintCase{{0x80, 0x80, 0x80, 0x80, 0x10}, true, 0, 5},
                      // A fifth byte with its continuation bit fails.
                      VarintCase{{0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, false, 0, 0},
                      VarintCase{{0x80, 0x80}, false, 0, 0}, VarintCase{{}, false, 0, 0}));

TEST(VarintEncode, ShortestFormRoundTrips) {
    const uint32_t values[] = {0, 1, 127, 128, 16383, 16384, 0x0FFFFFFF, 0x10000000, 0xFFFFFFFF};
    const size_t lengths[] = {1, 1, 1, 2, 2, 3, 4, 5, 5};
    for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i) {
        vxdelta::WriteStream out;
        ASSERT_TRUE(out.writeVarint(values[i]));
        EXPECT_EQ(out.length(), lengths[i]) << values[i];
        vxdelta::ReadStream in = out.reader();
        uint32_t back = 0;
        ASSERT_TRUE(in.readVarint(&back));
        EXPECT_EQ(back, values[i]);
    }
}

TEST(SignedVarint, ZigzagOrder) {
    const int32_t values[] = {0, -1, 1, -2, 2, INT32_MAX, INT32_MIN};
    const Bytes expected[] = {{0}, {1}, {2}, {3}, {4}, Varint(0xFFFFFFFE), Varint(0xFFFFFFFF)};
    for (size_t i = 0; i < 7; ++i) {
        vxdelta::WriteStream out;
        ASSERT_TRUE(out.writeSignedVarint(values[i]));
        EXPECT_EQ(Contents(out), expected[i]) << values[i];
        vxdelta::ReadStream in = out.reader();
        int32_t back = 0;
        ASSERT_TRUE(in.readSignedVarint(&back));
        EXPECT_EQ(back, values[i]);
    }
}

TEST(ReadStream, ReadsAndSkipsAreCheckedFirst) {
    const Bytes data = {1, 2, 3};
    vxdelta::ReadStream in = View(data);
    uint8_t buffer[4] = {};
    EXPECT_FALSE(in.readBytes(buffer, 4));
    EXPECT_FALSE(in.skip(4));
    vxdelta::ReadStream slice;
    EXPECT_FALSE(in.readSlice(4, &slice));
    EXPECT_EQ(in.remaining(), 3u);
    ASSERT_TRUE(in.readSlice(2, &slice));
    EXPECT_EQ(slice.remaining(), 2u);
    ASSERT_TRUE(in.readBytes(buffer, 1));
    EXPECT_EQ(buffer[0], 3);
    EXPECT_TRUE(in.empty());
    EXPECT_TRUE(in.readBytes(buffer, 0));
}

TEST(WriteStream, GrowsAndAppends) {
    vxdelta::WriteStream a;
    vxdelta::WriteStream b;
    EXPECT_TRUE(a.write(nullptr, 0));
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(a.writeByte(static_cast<uint8_t>(i)));
    }
    ASSERT_TRUE(b.write("xyz", 3));
    ASSERT_TRUE(a.append(&b));
    EXPECT_EQ(a.length(), 1003u);
    EXPECT_EQ(a.data()[999], static_cast<uint8_t>(999));
    EXPECT_EQ(a.data()[1002], 'z');
    EXPECT_EQ(b.length(), 0u);
    EXPECT_EQ(b.data(), nullptr);
}

TEST(WriteStream, FailedAllocationMakesTheStreamFailForGood) {
    vxdelta::WriteStream out;
    ASSERT_TRUE(out.write("ab", 2));
    EXPECT_FALSE(out.reserve(SIZE_MAX / 2));
    EXPECT_TRUE(out.failed());
    EXPECT_FALSE(out.writeByte(1));
    EXPECT_FALSE(out.write("c", 1));
    EXPECT_FALSE(out.writeVarint(5));
    EXPECT_FALSE(out.reserve(10));
    EXPECT_EQ(out.length(), 0u);
    vxdelta::WriteStream target;
    EXPECT_FALSE(target.append(&out));
}

TEST(WriteStreamDeathTest, SizeVarintAboveThirtyTwoBitsIsAnAssertion) {
    vxdelta::WriteStream out;
    EXPECT_EXIT(out.writeSizeVarint(uint64_t{1} << 32), ::testing::ExitedWithCode(1), "");
    EXPECT_TRUE(out.writeSizeVarint(0xFFFFFFFFu));
}

TEST(WriteStreamDeathTest, SizeVarintAssertionNamesStreamsSource) {
    EXPECT_EXIT(
        {
            vxdelta_test::MessageLog log;
            struct Echo : difflog::LogBase {
                void flush() override {}
                void write(const std::string &message, int, const std::string &, uint64_t,
                           const std::string &, const std::string &) override {
                    fprintf(stderr, "%s\n", message.c_str());
                }
            } echo;
            vxdelta::WriteStream out;
            out.writeSizeVarint(uint64_t{1} << 40);
        },
        ::testing::ExitedWithCode(1),
        "Assertion \"value == narrowed_value\" failed at "
        "\\.\\./\\.\\./deps/vxdelta/src/lib/streams\\.cpp:209; ");
}

struct SetCase {
    const char *name;
    Bytes input;
    bool ok;
    size_t count;
};

class StreamSetReadTest : public ::testing::TestWithParam<SetCase> {};

TEST_P(StreamSetReadTest, AcceptsExactlyWellFormedSets) {
    vxdelta::ReadStreamSet set;
    EXPECT_EQ(set.init(GetParam().input.data(), GetParam().input.size()), GetParam().ok);
    EXPECT_EQ(set.count(), GetParam().count);
}

const Bytes kVersion = Varint(vxdelta::kStreamSetVersion);

INSTANTIATE_TEST_SUITE_P(
    Table, StreamSetReadTest,
    ::testing::Values(
        SetCase{"empty", SerializedSet({}), true, 0},
        SetCase{"two", SerializedSet({{1, 2}, {3}}), true, 2},
        SetCase{"ten", SerializedSet(std::vector<Bytes>(10, Bytes{7})), true, 10},
        SetCase{"eleven", SerializedSet(std::vector<Bytes>(11, Bytes{7})), false, 0},
        SetCase{"trailing", vxdelta_test::Concat({SerializedSet({{1}}), {9}}), false, 0},
        SetCase{"missing", vxdelta_test::Concat({kVersion, {1, 2, 5}}), false, 0},
        SetCase{"truncatedLength", vxdelta_test::Concat({kVersion, {2, 1}}), false, 0},
        SetCase{"noCount", kVersion, false, 0},
        SetCase{"otherVersion", vxdelta_test::Concat({Varint(20090219), {0}}), false, 0},
        SetCase{"nothing", {}, false, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(StreamSet, SerializesTheFirstCountStreams) {
    vxdelta::StreamSet set;
    ASSERT_TRUE(set.stream(0).write("ab", 2));
    ASSERT_TRUE(set.stream(2).write("c", 1));
    ASSERT_TRUE(set.stream(5).write("ignored", 7));
    set.setCount(3);
    vxdelta::WriteStream out;
    ASSERT_TRUE(set.serialize(&out));
    const Bytes serialized = SerializedSet({{'a', 'b'}, {}, {'c'}});
    EXPECT_EQ(Contents(out), serialized);
    // The header is all of it but the three stream bytes at its end.
    vxdelta::WriteStream header;
    ASSERT_TRUE(set.serializeHeader(&header));
    EXPECT_EQ(Contents(header), Bytes(serialized.begin(), serialized.end() - 3));

    vxdelta::ReadStreamSet read;
    ASSERT_TRUE(read.init(out.reader()));
    ASSERT_EQ(read.count(), 3u);
    EXPECT_EQ(read.stream(3), nullptr);
    EXPECT_EQ(read.stream(0)->remaining(), 2u);
    EXPECT_TRUE(read.stream(1)->empty());
    EXPECT_FALSE(read.consumed());
    read.stream(0)->skip(2);
    read.stream(2)->skip(1);
    EXPECT_TRUE(read.consumed());
}

TEST(StreamSet, DefaultCountIsTen) {
    vxdelta::StreamSet set;
    vxdelta::WriteStream out;
    ASSERT_TRUE(set.serialize(&out));
    EXPECT_EQ(Contents(out), SerializedSet(std::vector<Bytes>(10)));
}

TEST(FileChecksum, IsTheComplementOfCrc32) {
    EXPECT_EQ(vxdelta::FileChecksum(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Varint(vxdelta::FileChecksum(nullptr, 0)), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x0F}));
    const Bytes check = vxdelta_test::ToBytes("123456789");
    EXPECT_EQ(vxdelta::FileChecksum(check.data(), check.size()), ~0xCBF43926u);
}

TEST(ExeType, Names) {
    EXPECT_STREQ(vxdelta::ExeTypeName(vxdelta::EXE_UNKNOWN), "UNKNOWN");
    EXPECT_STREQ(vxdelta::ExeTypeName(vxdelta::EXE_ELF_32_X86), "EXE_ELF_32_X86");
    EXPECT_STREQ(vxdelta::ExeTypeName(vxdelta::EXE_MACHO_X64), "MACHO_X64");
    EXPECT_STREQ(vxdelta::ExeTypeName(8), "UNKNOWN");
}

}  // namespace
