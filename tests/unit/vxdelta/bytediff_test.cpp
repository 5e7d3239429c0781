#include "bytediff.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "checksum.h"
#include "test_support.h"

namespace {

using vxdelta_test::Bytes;
using vxdelta_test::Concat;
using vxdelta_test::Contents;
using vxdelta_test::MessageLog;
using vxdelta_test::RandomBytes;
using vxdelta_test::Section;
using vxdelta_test::SignedVarint;
using vxdelta_test::ToBytes;
using vxdelta_test::Varint;
using vxdelta_test::View;

struct Triple {
    int32_t x;
    int32_t y;
    int32_t z;
};

Bytes Control(const std::vector<Triple> &triples) {
    Bytes out;
    for (const Triple &t : triples) {
        out = Concat({out, SignedVarint(t.x), SignedVarint(t.y), SignedVarint(t.z)});
    }
    return out;
}

// A hand-made diff without header in the given method.
Bytes MakeDiff(int method, uint32_t newSize, const Bytes &control, const Bytes &diff,
               const Bytes &extra) {
    const Bytes plain = Concat({Varint(static_cast<uint32_t>(control.size())),
                                Varint(static_cast<uint32_t>(diff.size())),
                                Varint(static_cast<uint32_t>(extra.size())), control, diff, extra});
    Bytes body = plain;
    if (method == 1) {
        body = Concat({Section(control), Section(diff), Section(extra)});
    } else if (method == 2) {
        body = Section(plain);
    }
    return Concat({{static_cast<uint8_t>(method)}, Varint(newSize), body});
}

Bytes WithHeader(uint32_t checksum, const Bytes &diff) {
    return Concat({ToBytes("VXDIFF10"), Varint(checksum), diff});
}

struct ApplyResult {
    bool ok;
    Bytes output;
    std::vector<std::string> messages;
};

ApplyResult Apply(const Bytes &old, const Bytes &diff, bool checkHeader) {
    MessageLog log;
    vxdelta::ReadStream patch = View(diff);
    vxdelta::WriteStream out;
    const bool ok = vxdelta::ApplyByteDiff(View(old), &patch, &out, checkHeader);
    return {ok, Contents(out), log.messages};
}

const Bytes kOld = ToBytes("ABCDEFGH");

class HandMadeDiffTest : public ::testing::TestWithParam<int> {};

TEST_P(HandMadeDiffTest, AddsDiffBytesInsertsExtraAndMovesOldPosition) {
    const Bytes diff =
        MakeDiff(GetParam(), 7, Control({{3, 2, -3}, {2, 0, 0}}), {0, 0, 1, 0, 0}, ToBytes("xy"));
    const ApplyResult r = Apply(kOld, diff, false);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.output, ToBytes("ABDxyAB"));
    EXPECT_TRUE(r.messages.empty());
}

TEST_P(HandMadeDiffTest, NegativeZMovesBackwardsAndEmptyTriplesOnlyMove) {
    const Bytes diff =
        MakeDiff(GetParam(), 3, Control({{0, 0, 5}, {2, 0, -4}, {1, 0, 0}}), {0, 0, 0}, {});
    EXPECT_EQ(Apply(kOld, diff, false).output, ToBytes("FGD"));
}

TEST_P(HandMadeDiffTest, LeftoverControlAndBytesAreIgnored) {
    const Bytes diff =
        MakeDiff(GetParam(), 2, Control({{2, 0, 0}, {1, 1, 1}}), {1, 1, 1, 1}, ToBytes("unused"));
    const ApplyResult r = Apply(kOld, diff, false);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.output, ToBytes("BC"));
}

TEST_P(HandMadeDiffTest, ZeroNewSizeSucceedsWhateverTheControlHolds) {
    const Bytes diff = MakeDiff(GetParam(), 0, {0xFF}, {}, {});
    const ApplyResult r = Apply(kOld, diff, false);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.output.empty());
}

INSTANTIATE_TEST_SUITE_P(Methods, HandMadeDiffTest, ::testing::Values(0, 1, 2));

struct FailureCase {
    const char *name;
    Bytes diff;
    bool checkHeader;
    std::vector<std::string> messages;
};

class ApplyFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ApplyFailureTest, FailsWithExactlyTheseMessages) {
    const ApplyResult r = Apply(kOld, GetParam().diff, GetParam().checkHeader);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.messages, GetParam().messages);
}

const Bytes kGood = MakeDiff(0, 2, Control({{2, 0, 0}}), {0, 0}, {});
const Bytes kGoodMethod2 = MakeDiff(2, 2, Control({{2, 0, 0}}), {0, 0}, {});

INSTANTIATE_TEST_SUITE_P(
    Table, ApplyFailureTest,
    ::testing::Values(
        FailureCase{"controlRunsOut",
                    MakeDiff(0, 5, Control({{2, 0, 0}}), {0, 0}, {}),
                    false,
                    {"Corrupt patch reading control"}},
        FailureCase{"truncatedTriple",
                    MakeDiff(0, 5, {0x04, 0x00}, {0, 0}, {}),
                    false,
                    {"Corrupt patch reading control"}},
        FailureCase{"extraPastNewSize",
                    MakeDiff(0, 3, Control({{2, 2, 0}}), {0, 0}, {1, 2}),
                    false,
                    {"Corrupt patch"}},
        FailureCase{"diffPastNewSize",
                    MakeDiff(0, 1, Control({{2, 0, 0}}), {0, 0}, {}),
                    false,
                    {"Corrupt patch"}},
        FailureCase{"oldRangeEndsOutside",
                    MakeDiff(0, 3, Control({{0, 0, 6}, {3, 0, 0}}), {0, 0, 0}, {}),
                    false,
                    {}},
        FailureCase{"oldRangeStartsOutside",
                    MakeDiff(0, 3, Control({{0, 0, -1}, {1, 0, 0}}), {0}, {}),
                    false,
                    {}},
        FailureCase{
            "xBeyondDiffStream", MakeDiff(0, 3, Control({{3, 0, 0}}), {0, 0}, {}), false, {}},
        FailureCase{"yBeyondExtraStream",
                    MakeDiff(0, 3, Control({{0, 3, 0}}), {}, {1, 2}),
                    false,
                    {}},
        FailureCase{"negativeX", MakeDiff(0, 3, Control({{-1, 0, 0}}), {0}, {}), false, {}},
        FailureCase{"negativeY", MakeDiff(0, 3, Control({{0, -1, 0}}), {}, {1}), false, {}},
        FailureCase{
            "storedLengthsExceedData",
            Concat({{0, 2}, Varint(3), Varint(50), Varint(0), Control({{2, 0, 0}}), {0, 0}}),
            false,
            {}},
        FailureCase{"method3", Concat({{3}, Varint(2)}), false, {"Invalid compression method"}},
        FailureCase{"noMethod", {}, false, {}}, FailureCase{"noNewSize", {0}, false, {}},
        FailureCase{
            "brokenSection",
            Concat({{2}, Varint(2), Bytes(kGoodMethod2.begin() + 2, kGoodMethod2.end() - 1)}),
            false,
            {"Error uncompressing data 6"}},
        FailureCase{"shortHeader", ToBytes("VXDIFF"), true, {}},
        FailureCase{"noMagic",
                    Concat({ToBytes("VXDIFF11"), Varint(0), kGood}),
                    true,
                    {"Corrupt patch header"}},
        FailureCase{"noChecksum", ToBytes("VXDIFF10"), true, {"Could not read crc"}},
        FailureCase{"checksumMismatch", WithHeader(12345, kGood), true, {"crc mismatch"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ApplyByteDiff, HeaderWithMatchingChecksumSucceeds) {
    const Bytes expected = ToBytes("AB");
    const ApplyResult r =
        Apply(kOld, WithHeader(vxdelta::FileChecksum(expected.data(), 2), kGood), true);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.output, expected);
}

TEST(ApplyByteDiff, ReadsFromThePatchPositionAndAdvancesPastTheDiff) {
    const Bytes input = Concat({{9, 9}, kGood, {7}});
    vxdelta::ReadStream patch = View(input);
    ASSERT_TRUE(patch.skip(2));
    vxdelta::WriteStream out;
    ASSERT_TRUE(vxdelta::ApplyByteDiff(View(kOld), &patch, &out, false));
    EXPECT_EQ(patch.remaining(), 1u);
}

struct Pair {
    const char *name;
    Bytes old;
    Bytes nw;
};

Bytes Insertions() {
    const Bytes base = RandomBytes(20000, 1);
    return Concat({Bytes(base.begin(), base.begin() + 5000), ToBytes("inserted text"),
                   Bytes(base.begin() + 5000, base.begin() + 15000), RandomBytes(300, 2),
                   Bytes(base.begin() + 15000, base.end())});
}

Bytes Moved() {
    const Bytes base = RandomBytes(20000, 1);
    return Concat(
        {Bytes(base.begin() + 12000, base.end()), Bytes(base.begin(), base.begin() + 12000)});
}

Bytes Sparse() {
    Bytes base = RandomBytes(20000, 1);
    for (size_t i = 0; i < base.size(); i += 97) {
        base[i] ^= 0x5A;
    }
    return base;
}

Bytes ZerosWithTail() {
    Bytes zeros(1 << 20, 0);
    const Bytes tail = RandomBytes(4096, 5);
    std::copy(tail.begin(), tail.end(), zeros.end() - 4096);
    return zeros;
}

Bytes Repetitive(size_t n, size_t period) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>("abcabd"[i % period]);
    }
    return out;
}

const Pair kPairs[] = {
    {"empty", {}, {}},
    {"emptyOld", {}, RandomBytes(1000, 3)},
    {"emptyNew", RandomBytes(1000, 3), {}},
    {"identical", RandomBytes(20000, 1), RandomBytes(20000, 1)},
    {"insertions", RandomBytes(20000, 1), Insertions()},
    {"deletions", Insertions(), RandomBytes(20000, 1)},
    {"moved", RandomBytes(20000, 1), Moved()},
    {"sparseChanges", RandomBytes(20000, 1), Sparse()},
    {"unrelated", RandomBytes(5000, 8), RandomBytes(7000, 9)},
    {"zerosWithTail", Bytes(1 << 20, 0), ZerosWithTail()},
    {"zerosShifted", ZerosWithTail(), Concat({{1, 2, 3}, Bytes(1 << 20, 0)})},
    {"periodic", Repetitive(100000, 6), Repetitive(100003, 5)},
};

class RoundTripTest
    : public ::testing::TestWithParam<std::tuple<Pair, vxdelta::ByteDiffMethod, bool>> {};

TEST_P(RoundTripTest, GeneratedDiffRebuildsNewData) {
    const Pair &pair = std::get<0>(GetParam());
    const bool header = std::get<2>(GetParam());
    vxdelta::WriteStream diff;
    ASSERT_TRUE(vxdelta::GenerateByteDiff(View(pair.old), View(pair.nw), &diff, header,
                                          std::get<1>(GetParam())));
    const Bytes bytes = Contents(diff);
    ASSERT_GE(bytes.size(), header ? 10u : 2u);
    EXPECT_EQ(bytes[0] == 'V', header);
    const ApplyResult r = Apply(pair.old, bytes, header);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.output == pair.nw);
    EXPECT_TRUE(r.messages.empty());

    // Into an output that already holds bytes, the new data is appended
    // (an empty output may instead take over the decoded body's buffer).
    vxdelta::ReadStream patch = View(bytes);
    vxdelta::WriteStream out;
    ASSERT_TRUE(out.write("xy", 2));
    ASSERT_TRUE(vxdelta::ApplyByteDiff(View(pair.old), &patch, &out, header));
    EXPECT_TRUE(Contents(out) == Concat({ToBytes("xy"), pair.nw}));
}

INSTANTIATE_TEST_SUITE_P(Pairs, RoundTripTest,
                         ::testing::Combine(::testing::ValuesIn(kPairs),
                                            ::testing::Values(vxdelta::kByteDiffUncompressed,
                                                              vxdelta::kByteDiffSectionPerStream,
                                                              vxdelta::kByteDiffSingleSection),
                                            ::testing::Bool()),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_method" +
                                    std::to_string(static_cast<int>(std::get<1>(info.param))) +
                                    (std::get<2>(info.param) ? "_header" : "");
                         });

// A diff that reuses the old data must be far smaller than the new data:
// catches a generator that degenerates to inserting everything.
TEST(GenerateByteDiff, ReusesOldData) {
    vxdelta::WriteStream diff;
    const Bytes old = RandomBytes(20000, 1);
    const Bytes nw = Insertions();
    ASSERT_TRUE(vxdelta::GenerateByteDiff(View(old), View(nw), &diff, false,
                                          vxdelta::kByteDiffSingleSection));
    EXPECT_LT(diff.length(), 1000u);
}

TEST(GenerateByteDiff, WritesMethodAndNewSizeAfterTheOptionalHeader) {
    const Bytes nw = ToBytes("abc");
    vxdelta::WriteStream diff;
    ASSERT_TRUE(vxdelta::GenerateByteDiff(View(kOld), View(nw), &diff, true,
                                          vxdelta::kByteDiffUncompressed));
    const Bytes expected =
        Concat({ToBytes("VXDIFF10"), Varint(vxdelta::FileChecksum(nw.data(), 3)), {0}, Varint(3)});
    const Bytes got = Contents(diff);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + static_cast<long>(expected.size())), expected);
}

}  // namespace
