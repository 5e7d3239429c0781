#include "lzma2_part_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytediff.h"
#include "lzma2_chunks.h"
#include "test_support.h"

namespace {

using vxdelta_test::Bytes;
using vxdelta_test::Concat;
using vxdelta_test::Contents;

Bytes WithChanges(Bytes data, size_t every) {
    for (size_t i = 0; i < data.size(); i += every) {
        data[i] = static_cast<uint8_t>(data[i] ^ 0x5A);
    }
    return data;
}

Bytes GeneratedDiff(vxdelta::ByteDiffMethod method) {
    const Bytes old = vxdelta_test::RandomBytes(20000, 31);
    const Bytes nw = Concat({WithChanges(old, 97), vxdelta_test::RandomBytes(3000, 32)});
    vxdelta::WriteStream diff;
    EXPECT_TRUE(vxdelta::GenerateByteDiff(vxdelta_test::View(old), vxdelta_test::View(nw), &diff,
                                          false, method));
    return Contents(diff);
}

Bytes CopyDiff() {
    vxdelta::WriteStream diff;
    EXPECT_TRUE(vxdelta::WriteCopyByteDiff(1234, 40000, &diff));
    return Contents(diff);
}

Bytes Truncated(Bytes diff) {
    diff.resize(diff.size() - 1);
    return diff;
}

struct PartListCase {
    const char *name;
    Bytes diff;
    // An uncompressed byte diff has its corrections in a part of their own;
    // anything else stays in one part with the piece before it.
    bool split;
};

void ExpectDecodedAndSplit(const PartListCase &param, vxdelta::Lzma2Search corrections) {
    const Bytes head = vxdelta_test::ToBytes("stream lengths");
    vxdelta::Lzma2PartList list;
    list.add({head.data(), head.size()}, vxdelta::Lzma2Search::kThorough);
    list.add({nullptr, 0}, vxdelta::Lzma2Search::kSparse);
    list.addByteDiff(param.diff.data(), param.diff.size(), corrections);
    vxdelta::WriteStream encoded;
    ASSERT_TRUE(list.encode(&encoded));

    vxdelta::ReadStream in = encoded.reader();
    vxdelta::WriteStream out;
    ASSERT_TRUE(vxdelta::DecodeLzma2Section(&in, &out));
    EXPECT_EQ(Contents(out), Concat({head, param.diff}));
    EXPECT_TRUE(in.empty());

    uint8_t property = 0;
    uint32_t size = 0;
    vxdelta::ReadStream section = encoded.reader();
    ASSERT_TRUE(section.readBytes(&property, 1) && section.readVarint(&size));
    vxdelta::Lzma2SegmentWalk walk(section.position(), section.remaining());
    vxdelta::Lzma2Segment segment;
    size_t segments = 0;
    while (walk.next(&segment)) {
        ++segments;
    }
    EXPECT_FALSE(walk.malformed());
    if (param.split) {
        EXPECT_GE(segments, 2U);
    } else {
        EXPECT_EQ(segments, 1U);
    }
}

class PartListTest : public ::testing::TestWithParam<PartListCase> {};

TEST_P(PartListTest, DecodesToThePiecesAndSplitsOnlyWellFormedDiffs) {
    for (const auto corrections :
         {vxdelta::Lzma2Search::kSparse, vxdelta::Lzma2Search::kSparseOptimal}) {
        SCOPED_TRACE(static_cast<int>(corrections));
        ExpectDecodedAndSplit(GetParam(), corrections);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PartListTest,
    ::testing::Values(
        PartListCase{"generatedUncompressed", GeneratedDiff(vxdelta::kByteDiffUncompressed), true},
        PartListCase{"copyWithoutInsertedBytes", CopyDiff(), true},
        PartListCase{"compressedMethod", GeneratedDiff(vxdelta::kByteDiffSingleSection), false},
        PartListCase{"lengthsBeyondTheData", Truncated(CopyDiff()), false},
        PartListCase{"notADiff", vxdelta_test::ToBytes("x"), false}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
