// The copy diff: whatever stretch of the old data it names, applying it
// gives exactly that stretch, in every place of the old data and for every
// length including none; offsets and lengths beyond the format's signed
// 32-bit fields are refused.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "bytediff.h"
#include "test_support.h"

namespace {

using vxdelta_test::Bytes;
using vxdelta_test::Contents;
using vxdelta_test::RandomBytes;
using vxdelta_test::View;

struct CopyCase {
    const char *name;
    size_t offset;
    size_t length;
};

class CopyByteDiffTest : public ::testing::TestWithParam<CopyCase> {};

TEST_P(CopyByteDiffTest, RebuildsTheNamedStretchOfTheOldData) {
    const Bytes old = RandomBytes(5000, 7);
    vxdelta::WriteStream diff;
    ASSERT_TRUE(vxdelta::WriteCopyByteDiff(GetParam().offset, GetParam().length, &diff));
    vxdelta::ReadStream patch = diff.reader();
    vxdelta::WriteStream out;
    ASSERT_TRUE(vxdelta::ApplyByteDiff(View(old), &patch, &out, false));
    const auto first = old.begin() + static_cast<long>(GetParam().offset);
    EXPECT_EQ(Contents(out), Bytes(first, first + static_cast<long>(GetParam().length)));
    EXPECT_TRUE(patch.empty());
}

INSTANTIATE_TEST_SUITE_P(Stretches, CopyByteDiffTest,
                         ::testing::Values(CopyCase{"all", 0, 5000}, CopyCase{"head", 0, 17},
                                           CopyCase{"middle", 1234, 2000},
                                           CopyCase{"tail", 4000, 1000},
                                           CopyCase{"lastByte", 4999, 1},
                                           CopyCase{"nothing", 300, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(CopyByteDiff, RefusesFieldsBeyondSigned32Bits) {
    constexpr size_t kTooLarge = size_t{1} << 31;
    vxdelta::WriteStream diff;
    EXPECT_FALSE(vxdelta::WriteCopyByteDiff(kTooLarge, 1, &diff));
    EXPECT_FALSE(vxdelta::WriteCopyByteDiff(0, kTooLarge, &diff));
    EXPECT_EQ(diff.length(), 0U);
}

}  // namespace
