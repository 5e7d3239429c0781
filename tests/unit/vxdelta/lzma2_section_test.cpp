#include "lzma2_section.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "lzma2_chunks.h"
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

// Streams with several dictionary resets. The decoder takes them segment by
// segment, large segments with the output as the decoder's dictionary, and
// must give exactly what one plain decode of the whole stream gives.
constexpr size_t kMiB = size_t{1} << 20;

// Data that compresses (so the chunks are LZMA chunks with matches) unless
// random is set (then the encoder stores it).
Bytes Payload(size_t size, uint32_t seed, bool random) {
    Bytes data = vxdelta_test::RandomBytes(size, seed);
    if (!random) {
        for (size_t i = 0; i < data.size(); ++i) {
            data[i] = (i % 7 == 0) ? data[i] : static_cast<uint8_t>(i / 5000);
        }
    }
    return data;
}

// A raw stream of the encoder's chunks for each part, back to back (every
// part starts with a dictionary reset), with one end marker, under the
// given property byte (default: the largest of the parts').
Bytes Segmented(const std::vector<Bytes> &parts, int property = -1) {
    Bytes raw;
    uint8_t largest = 0;
    uint32_t total = 0;
    for (const Bytes &part : parts) {
        const Bytes section = vxdelta_test::Section(part);
        vxdelta::ReadStream in = View(section);
        uint8_t p = 0;
        uint32_t size = 0;
        EXPECT_TRUE(in.readBytes(&p, 1) && in.readVarint(&size));
        largest = std::max(largest, p);
        total += size;
        raw.insert(raw.end(), in.position(), in.position() + in.remaining() - 1);
    }
    raw.push_back(0x00);
    const auto byte = static_cast<uint8_t>(property < 0 ? largest : property);
    return Concat({{byte}, Varint(total), raw});
}

// A random block repeated: its matches reach 256 KiB back.
Bytes Repeated(size_t size, uint32_t seed) {
    const Bytes block = vxdelta_test::RandomBytes(256 << 10, seed);
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = block[i % block.size()];
    }
    return data;
}

const Bytes &TwoLarge() {
    static const Bytes two = Segmented({Repeated(kMiB + 99, 13), Payload(kMiB, 14, false)});
    return two;
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
        // The largest byte: its dictionary size is not computed from it.
        FailureCase{"property255",
                    [] {
                        const SectionParts p = Split(Sample());
                        return Join(255, p.size, p.raw);
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
                    "Error uncompressing data 6"},
        // Matches reach further back than a 4 KiB dictionary holds.
        FailureCase{"matchesBeyondTheDeclaredDictionary",
                    [] {
                        Bytes input = TwoLarge();
                        input[0] = 0;
                        return input;
                    },
                    "Error uncompressing data 1"},
        FailureCase{"corruptDataInTheSecondSegment",
                    [] {
                        Bytes input = TwoLarge();
                        input[input.size() - 40] ^= 0x5A;
                        return input;
                    },
                    "Error uncompressing data 1"},
        FailureCase{"secondSegmentCutShort",
                    [] {
                        Bytes input = TwoLarge();
                        input.resize(input.size() - 30);
                        return input;
                    },
                    "Error uncompressing data 6"},
        FailureCase{"statedSizeOneShort",
                    [] {
                        Bytes input = TwoLarge();
                        const Bytes size = Varint(static_cast<uint32_t>(2 * kMiB + 98));
                        std::copy(size.begin(), size.end(), input.begin() + 1);
                        return input;
                    },
                    "Error uncompressing data 1"}),
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

// Zeros with a changed byte every 16 bytes or so, like the byte diff's
// correction stream.
Bytes Sparse(size_t size, uint32_t seed) {
    const Bytes noise = vxdelta_test::RandomBytes(size, seed);
    Bytes data(size, 0);
    for (size_t i = 0; i < size; ++i) {
        data[i] = noise[i] % 16 == 0 ? noise[i / 2] : 0;
    }
    return data;
}

struct PartsCase {
    const char *name;
    std::vector<std::pair<Bytes, vxdelta::Lzma2Search>> parts;
};

class EncodedPartsTest : public ::testing::TestWithParam<PartsCase> {};

// Each part, given as two pieces, is its own dictionary-reset segment
// (possibly split further), so it decodes without the parts before it.
TEST_P(EncodedPartsTest, DecodeToTheConcatenationWithEachPartStartingASegment) {
    std::vector<std::vector<vxdelta::ByteSpan>> pieces;
    std::vector<vxdelta::Lzma2Part> parts;
    std::vector<uint64_t> starts;
    Bytes expected;
    for (const auto &part : GetParam().parts) {
        const size_t third = part.first.size() / 3;
        pieces.push_back(
            {{part.first.data(), third}, {part.first.data() + third, part.first.size() - third}});
        if (!part.first.empty()) {
            starts.push_back(expected.size());
        }
        expected = Concat({expected, part.first});
    }
    for (size_t i = 0; i < pieces.size(); ++i) {
        parts.push_back({pieces[i].data(), pieces[i].size(), GetParam().parts[i].second});
    }
    vxdelta::WriteStream encoded;
    ASSERT_TRUE(vxdelta::EncodeLzma2Parts(parts.data(), parts.size(), &encoded));
    vxdelta::ReadStream in = encoded.reader();
    vxdelta::WriteStream out;
    ASSERT_TRUE(vxdelta::DecodeLzma2Section(&in, &out));
    EXPECT_EQ(Contents(out), expected);
    EXPECT_TRUE(in.empty());

    const SectionParts section = Split(Contents(encoded));
    vxdelta::Lzma2SegmentWalk walk(section.raw.data(), section.raw.size());
    vxdelta::Lzma2Segment segment;
    std::vector<uint64_t> segmentStarts;
    while (walk.next(&segment)) {
        segmentStarts.push_back(segment.outOffset);
    }
    EXPECT_FALSE(walk.malformed());
    for (const uint64_t start : starts) {
        EXPECT_NE(std::find(segmentStarts.begin(), segmentStarts.end(), start), segmentStarts.end())
            << "no segment starts at " << start;
    }
}

using Search = vxdelta::Lzma2Search;

INSTANTIATE_TEST_SUITE_P(
    Table, EncodedPartsTest,
    ::testing::Values(PartsCase{"eachSearch",
                                {{Payload(5000, 21, false), Search::kThorough},
                                 {Sparse(70000, 22), Search::kSparse},
                                 {Payload(3000, 23, true), Search::kShallow}}},
                      PartsCase{"emptyPartsAround",
                                {{{}, Search::kShallow},
                                 {Sparse(4096, 24), Search::kSparse},
                                 {{}, Search::kShallow}}},
                      PartsCase{"largeSparsePartAmongSmallOnes",
                                {{vxdelta_test::ToBytes("lengths"), Search::kShallow},
                                 {Sparse(3 * kMiB + 5, 25), Search::kSparse},
                                 {Payload(100, 26, true), Search::kShallow}}},
                      PartsCase{"optimalSparseBetweenOthers",
                                {{Payload(2000, 27, false), Search::kThorough},
                                 {Sparse(1 * kMiB + 3, 28), Search::kSparseOptimal},
                                 {Sparse(5000, 29), Search::kSparse}}},
                      PartsCase{"onlyEmpty", {{{}, Search::kSparse}, {{}, Search::kThorough}}}),
    [](const auto &info) { return std::string(info.param.name); });

struct SegmentCase {
    const char *name;
    std::vector<Bytes> parts;
    int property;
};

class SegmentedSectionTest : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(SegmentedSectionTest, DecodesToTheConcatenationAndStopsAtTheEndMarker) {
    const Bytes input = Concat({Segmented(GetParam().parts, GetParam().property), {0x42}});
    vxdelta::ReadStream in = View(input);
    vxdelta::WriteStream out;
    ASSERT_TRUE(out.write("x", 1));
    ASSERT_TRUE(vxdelta::DecodeLzma2Section(&in, &out));
    Bytes expected = {'x'};
    for (const Bytes &part : GetParam().parts) {
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_EQ(Contents(out), expected);
    EXPECT_EQ(in.remaining(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SegmentedSectionTest,
    ::testing::Values(SegmentCase{"smallLargeSmallLarge",
                                  {Payload(5000, 1, false), Payload(kMiB + 4321, 2, false),
                                   Payload(100, 3, true), Payload(kMiB, 4, false)},
                                  -1},
                      SegmentCase{"largeStoredThenLarge",
                                  {Payload(kMiB + 1, 5, true), Payload(3 * kMiB / 2, 6, false)},
                                  -1},
                      SegmentCase{"manySmall",
                                  {Payload(3000, 7, false), Payload(1, 8, true),
                                   Payload(70000, 9, false), Payload(2, 10, true)},
                                  -1},
                      // Stored chunks need no dictionary: segments far larger than the
                      // declared 4 KiB one decode, the plain way.
                      SegmentCase{"segmentsBeyondTheDeclaredDictionary",
                                  {Payload(kMiB + 7, 11, true), Payload(kMiB, 12, true)},
                                  0}),
    [](const auto &info) { return std::string(info.param.name); });

// Records where the decoder said it was done with the input.
class RecordingReleaser : public vxdelta::InputReleaser {
public:
    void releaseBefore(const uint8_t *position) override { positions.push_back(position); }
    std::vector<const uint8_t *> positions;
};

TEST(SegmentedSection, ReleasesOnlyInputItHasReadAndMovesForward) {
    const Bytes input = Segmented({Payload(kMiB, 15, true), Payload(2 * kMiB, 16, true)});
    vxdelta::ReadStream in = View(input);
    vxdelta::WriteStream out;
    RecordingReleaser releaser;
    ASSERT_TRUE(vxdelta::DecodeLzma2Section(&in, &out, &releaser));
    EXPECT_EQ(out.length(), 3 * kMiB);
    ASSERT_GT(releaser.positions.size(), 2u);
    EXPECT_TRUE(std::is_sorted(releaser.positions.begin(), releaser.positions.end()));
    EXPECT_GE(releaser.positions.front(), input.data());
    EXPECT_LE(releaser.positions.back(), in.position());
    EXPECT_GT(releaser.positions.back(), input.data() + 2 * kMiB);
}

}  // namespace
