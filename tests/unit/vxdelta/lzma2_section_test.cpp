#include "lzma2_section.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using vxdelta_test::Bytes;
using vxdelta_test::Concat;
using vxdelta_test::Contents;
using vxdelta_test::MessageLog;
using vxdelta_test::Varint;
using vxdelta_test::View;

// A section split into its property byte, stated size and raw chunk stream.
struct SectionParts {
    uint8_t property;
    uint32_t size;
    Bytes raw;
};

SectionParts Split(const Bytes &section) {
    vxdelta::ReadStream in = View(section);
    SectionParts parts{};
    EXPECT_TRUE(in.readBytes(&parts.property, 1));
    EXPECT_TRUE(in.readVarint(&parts.size));
    parts.raw.assign(in.position(), in.position() + in.remaining());
    return parts;
}

Bytes Join(uint8_t property, uint32_t size, const Bytes &raw) {
    return Concat({{property}, Varint(size), raw});
}

class Lzma2RoundTripTest : public ::testing::TestWithParam<size_t> {};

// Bytes after the end marker are left for the next reader, and decoding
// appends to what the output already holds.
TEST_P(Lzma2RoundTripTest, DecodesWhatWasEncodedAndStopsAtTheEndMarker) {
    Bytes data = vxdelta_test::RandomBytes(GetParam(), 7);
    for (size_t i = 0; i < data.size() / 2; ++i) {
        data[i] = static_cast<uint8_t>(i % 13);
    }
    const Bytes input = Concat({vxdelta_test::Section(data), Varint(300)});
    vxdelta::ReadStream in = View(input);
    vxdelta::WriteStream out;
    ASSERT_TRUE(out.write("ab", 2));
    ASSERT_TRUE(vxdelta::DecodeLzma2Section(&in, &out));
    EXPECT_EQ(Contents(out), Concat({{'a', 'b'}, data}));
    uint32_t next = 0;
    ASSERT_TRUE(in.readVarint(&next));
    EXPECT_EQ(next, 300u);
    EXPECT_TRUE(in.empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, Lzma2RoundTripTest, ::testing::Values(0, 1, 4096, 70000, 3 << 20));

TEST(Lzma2Section, ZeroSizeWithOnlyTheEndMarkerSucceeds) {
    const Bytes input = {0x10, 0x00, 0x00};
    vxdelta::ReadStream in = View(input);
    vxdelta::WriteStream out;
    ASSERT_TRUE(vxdelta::DecodeLzma2Section(&in, &out));
    EXPECT_EQ(out.length(), 0u);
    EXPECT_TRUE(in.empty());
}

struct FailureCase {
    const char *name;
    Bytes (*make)();
    const char *message;
};

const Bytes &Sample() {
    static const Bytes sample = vxdelta_test::Section(vxdelta_test::RandomBytes(1000, 3));
    return sample;
}

class Lzma2FailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Lzma2FailureTest, LogsTheResultCodeAndLeavesTheStreamsAlone) {
    const Bytes input = GetParam().make();
    MessageLog log;
    vxdelta::ReadStream in = View(input);
    vxdelta::WriteStream out;
    EXPECT_FALSE(vxdelta::DecodeLzma2Section(&in, &out));
    EXPECT_EQ(log.messages, std::vector<std::string>{GetParam().message});
    EXPECT_EQ(log.levels, std::vector<int>{difflog::LogLevel_ERROR});
    EXPECT_EQ(in.remaining(), input.size());
    EXPECT_EQ(out.length(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Lzma2FailureTest,
    ::testing::Values(
        FailureCase{"noProperty", [] { return Bytes{}; }, "Error read LZMA2 properties"},
        FailureCase{"noSize",
                    [] {
                        return Bytes{0x10, 0x80};
                    },
                    "Error read LZMA2 unpack size"},
        FailureCase{"endMarkerBeforeStatedSize",
                    [] {
                        const SectionParts p = Split(Sample());
                        return Join(p.property, p.size + 10, p.raw);
                    },
                    "Error uncompressing data 0"},
        FailureCase{"dataBeyondStatedSize",
                    [] {
                        const SectionParts p = Split(Sample());
                        return Join(p.property, p.size - 1, p.raw);
                    },
                    "Error uncompressing data 1"},
        FailureCase{"invalidControlByte", [] { return Bytes{0x10, 0x05, 0x03, 0, 0, 0}; },
                    "Error uncompressing data 1"},
        FailureCase{"propertyAbove40",
                    [] {
                        const SectionParts p = Split(Sample());
                        return Join(41, p.size, p.raw);
                    },
                    "Error uncompressing data 4"},
        FailureCase{"noEndMarker",
                    [] {
                        SectionParts p = Split(Sample());
                        p.raw.pop_back();
                        return Join(p.property, p.size, p.raw);
                    },
                    "Error uncompressing data 6"},
        FailureCase{"truncatedChunk",
                    [] {
                        SectionParts p = Split(Sample());
                        p.raw.resize(p.raw.size() / 2);
                        return Join(p.property, p.size, p.raw);
                    },
                    "Error uncompressing data 6"},
        // Found by fuzzing: property 40 with a huge stated size once sized
        // the decoder's dictionary from the stated size (4 GiB).
        FailureCase{
            "fuzzDictionaryFromStatedSize",
            [] { return Bytes{0x28, 0xf4, 0xe9, 0xd3, 0xd3, 0x47, 0x46, 0x07, 0x46, 0x36}; },
            "Error uncompressing data 1"},
        FailureCase{"hugeStatedSizeFromTinyInput",
                    [] {
                        return Join(0x10, 0xFFFFFFFF, {0x01, 0x00, 0x00, 'x'});
                    },
                    "Error uncompressing data 6"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Lzma2Section, EncoderWritesSizeAndEndMarker) {
    const Bytes data = vxdelta_test::ToBytes("hello hello hello hello");
    const SectionParts p = Split(vxdelta_test::Section(data));
    EXPECT_EQ(p.size, data.size());
    EXPECT_LE(p.property, 40);
    ASSERT_FALSE(p.raw.empty());
    EXPECT_EQ(p.raw.back(), 0x00);
}

TEST(Lzma2Section, EncodesPiecesAsOneConcatenation) {
    const Bytes a = vxdelta_test::ToBytes("first piece ");
    const Bytes b = vxdelta_test::RandomBytes(5000, 9);
    const vxdelta::ByteSpan pieces[] = {{a.data(), a.size()}, {nullptr, 0}, {b.data(), b.size()}};
    vxdelta::WriteStream encoded;
    ASSERT_TRUE(vxdelta::EncodeLzma2Section(pieces, 3, &encoded));
    vxdelta::ReadStream in = encoded.reader();
    vxdelta::WriteStream out;
    ASSERT_TRUE(vxdelta::DecodeLzma2Section(&in, &out));
    EXPECT_EQ(Contents(out), Concat({a, b}));
}

}  // namespace
