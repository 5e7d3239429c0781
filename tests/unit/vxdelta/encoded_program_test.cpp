#include "encoded_program.h"

#include <gtest/gtest.h>

#include <string>

#include "asm_program.h"
#include "test_support.h"

namespace {

using vxdelta::AsmProgram;
using vxdelta::EncodedProgram;
using vxdelta_test::Bytes;
using vxdelta_test::Concat;
using vxdelta_test::Contents;
using vxdelta_test::MessageLog;
using vxdelta_test::SerializedSet;
using vxdelta_test::Varint;

std::vector<uint32_t> ToStd(const vxdelta::PodVector<uint32_t> &v) {
    return std::vector<uint32_t>(v.begin(), v.end());
}

void Fill(vxdelta::PodVector<uint32_t> *v, std::initializer_list<uint32_t> values) {
    for (uint32_t value : values) {
        ASSERT_TRUE(v->push_back(value));
    }
}

TEST(AsmProgram, FindOrMakeCountsReferencesAndDefaultIndexesFollowRvaOrder) {
    AsmProgram program(vxdelta::EXE_WIN_32_X86);
    vxdelta::Label *high = program.findOrMakeRel32Label(0x3000);
    vxdelta::Label *low = program.findOrMakeRel32Label(0x1000);
    EXPECT_EQ(program.findOrMakeRel32Label(0x3000), high);
    vxdelta::Label *abs = program.findOrMakeAbs32Label(0x3000);
    EXPECT_NE(abs, high);
    EXPECT_EQ(high->count, 2);
    EXPECT_EQ(low->index, -1);
    MessageLog log;
    program.defaultAssignIndexes();
    EXPECT_EQ(low->index, 0);
    EXPECT_EQ(high->index, 1);
    EXPECT_EQ(abs->index, 0);
    EXPECT_TRUE(log.messages.empty());
    program.defaultAssignIndexes();
    EXPECT_EQ(log.messages, std::vector<std::string>(3, "REACHED UNREACHABLE"));
    EXPECT_EQ(high->index, 1);
}

// Two literal bytes, a reference, then one literal byte: ops 1 (count 2), 3, 2.
TEST(EncodeProgram, MergesLiteralRuns) {
    AsmProgram program(vxdelta::EXE_WIN_32_X86);
    const uint8_t image[] = {0xAA, 0xBB, 0xCC};
    vxdelta::Label *label = program.findOrMakeRel32Label(0x40);
    ASSERT_TRUE(program.emitOrigin(0x1000));
    ASSERT_TRUE(program.emitByte(0x11));
    ASSERT_TRUE(program.emitByte(0x22));
    ASSERT_TRUE(program.emitRel32(label));
    ASSERT_TRUE(program.emitByte(0x33));
    ASSERT_TRUE(program.emitAbs32(program.findOrMakeAbs32Label(0x50)));
    ASSERT_TRUE(program.emitBytes(image, 2));
    ASSERT_TRUE(program.emitByte(0x44));
    ASSERT_TRUE(program.emitBytes(image + 2, 1));
    ASSERT_TRUE(program.emitPeRelocs());
    program.defaultAssignIndexes();
    EncodedProgram encoded;
    ASSERT_EQ(vxdelta::EncodeProgram(program, &encoded), vxdelta::C_OK);
    EXPECT_EQ(ToStd(encoded.ops), (std::vector<uint32_t>{0, 1, 3, 2, 4, 1, 5}));
    EXPECT_EQ(ToStd(encoded.copyCounts), (std::vector<uint32_t>{2, 4}));
    EXPECT_EQ(Bytes(encoded.copyBytes.begin(), encoded.copyBytes.end()),
              (Bytes{0x11, 0x22, 0x33, 0xAA, 0xBB, 0x44, 0xCC}));
    EXPECT_EQ(ToStd(encoded.origins), std::vector<uint32_t>{0x1000});
    EXPECT_EQ(ToStd(encoded.rel32Ix), std::vector<uint32_t>{0});
    EXPECT_EQ(ToStd(encoded.abs32Rvas), std::vector<uint32_t>{0x50});
}

TEST(EncodeProgram, PeRelocationMarkerDependsOnKind) {
    AsmProgram program(vxdelta::EXE_WIN_32_X64);
    ASSERT_TRUE(program.emitPeRelocs());
    ASSERT_TRUE(program.emitElfRelocs());
    ASSERT_TRUE(program.emitElfArmRelocs());
    EncodedProgram encoded;
    ASSERT_EQ(vxdelta::EncodeProgram(program, &encoded), vxdelta::C_OK);
    EXPECT_EQ(ToStd(encoded.ops), (std::vector<uint32_t>{8, 6, 7}));
}

// After trimming, index slots without a label repeat the previous address.
TEST(TrimLabels, DropsRareArmLabelsAndLeavesGapsThatDeltaEncodeToZero) {
    const uint8_t branch[4] = {1, 2, 3, 4};
    AsmProgram program(vxdelta::EXE_ELF_32_ARM);
    vxdelta::Label *rare = program.findOrMakeRel32Label(0x2000);
    vxdelta::Label *common = nullptr;
    for (int i = 0; i < 6; ++i) {
        common = program.findOrMakeRel32Label(0x3000);
    }
    vxdelta::Label *first = program.findOrMakeRel32Label(0x1000);
    for (int i = 0; i < 5; ++i) {
        first = program.findOrMakeRel32Label(0x1000);
    }
    ASSERT_TRUE(program.emitRel32Arm(0x3EB, rare, branch, 4));
    ASSERT_TRUE(program.emitRel32Arm(0x3EB, common, branch, 4));
    program.defaultAssignIndexes();
    MessageLog log;
    ASSERT_EQ(program.trimLabels(), vxdelta::C_OK);
    EXPECT_EQ(log.messages, std::vector<std::string>{"TrimLabels: threshold 5"});
    EXPECT_EQ(log.levels, std::vector<int>{difflog::LogLevel_DEBUG});
    EXPECT_EQ(program.rel32Labels().size(), 2u);
    EXPECT_EQ(program.rel32Labels().count(0x2000), 0u);
    EXPECT_EQ(program.instructions()[0]->kind, vxdelta::INSN_BYTES);
    EXPECT_EQ(program.instructions()[1]->kind, vxdelta::INSN_REL32_ARM);
    EXPECT_EQ(rare->index, 1);  // still valid, index not reused

    EncodedProgram encoded;
    ASSERT_EQ(vxdelta::EncodeProgram(program, &encoded), vxdelta::C_OK);
    EXPECT_EQ(ToStd(encoded.rel32Rvas), (std::vector<uint32_t>{0x1000, 0x1000, 0x3000}));
    EXPECT_EQ(first->index, 0);
    vxdelta::StreamSet set;
    ASSERT_EQ(vxdelta::WriteEncodedProgram(encoded, &set), vxdelta::C_OK);
    EXPECT_EQ(Contents(set.stream(6)),
              Concat({Varint(3), Varint(0x1000), Varint(0), Varint(0x2000)}));
}

TEST(TrimLabels, OtherKindsAreUntouchedAndZeroLengthFails) {
    const uint8_t branch[4] = {};
    AsmProgram x86(vxdelta::EXE_ELF_32_X86);
    ASSERT_TRUE(x86.emitRel32Arm(0x3EB, x86.findOrMakeRel32Label(1), branch, 0));
    EXPECT_EQ(x86.trimLabels(), vxdelta::C_OK);
    EXPECT_EQ(x86.rel32Labels().size(), 1u);
    AsmProgram arm(vxdelta::EXE_ELF_32_ARM);
    ASSERT_TRUE(arm.emitRel32Arm(0x3EB, arm.findOrMakeRel32Label(1), branch, 0));
    EXPECT_EQ(arm.trimLabels(), vxdelta::C_TRIM_FAILED);
}

EncodedProgram SampleProgram() {
    EncodedProgram p;
    p.imageBase = 0x1'0040'0000ull;
    Fill(&p.abs32Rvas, {0x1000, 0x1000, 0x0800});
    Fill(&p.rel32Rvas, {0x20});
    Fill(&p.ops, {0, 1, 3, 4, 2, 0, 4});
    Fill(&p.origins, {0x100, 0x200});
    Fill(&p.copyCounts, {3});
    for (uint8_t b : {1, 2, 3, 4}) {
        p.copyBytes.push_back(b);
    }
    Fill(&p.abs32Ix, {2, 0});
    Fill(&p.rel32Ix, {0});
    return p;
}

Bytes Serialize(const EncodedProgram &program) {
    vxdelta::StreamSet set;
    EXPECT_EQ(vxdelta::WriteEncodedProgram(program, &set), vxdelta::C_OK);
    vxdelta::WriteStream out;
    EXPECT_TRUE(set.serialize(&out));
    return Contents(out);
}

TEST(EncodedProgramIo, WritesTheDocumentedStreamsAndReadsThemBack) {
    const EncodedProgram p = SampleProgram();
    vxdelta::StreamSet set;
    ASSERT_EQ(vxdelta::WriteEncodedProgram(p, &set), vxdelta::C_OK);
    EXPECT_EQ(Contents(set.stream(0)),
              Concat({Varint(0x00400000), {2}, Varint(0x100), Varint(0x200)}));
    EXPECT_EQ(Contents(set.stream(1)), (Bytes{7, 0, 1, 3, 4, 2, 0, 4}));
    EXPECT_EQ(Contents(set.stream(2)), (Bytes{4, 1, 2, 3, 4}));
    EXPECT_EQ(Contents(set.stream(3)), (Bytes{2, 2, 0}));
    EXPECT_EQ(Contents(set.stream(4)), (Bytes{1, 0}));
    // Deltas modulo 2^32: 0x1000, 0, 0x800 - 0x1000.
    EXPECT_EQ(Contents(set.stream(5)), Concat({{3}, Varint(0x1000), {0}, Varint(0xFFFFF800)}));
    EXPECT_EQ(Contents(set.stream(6)), (Bytes{1, 0x20}));
    EXPECT_EQ(Contents(set.stream(7)), (Bytes{1, 3}));
    EXPECT_EQ(set.stream(8).length() + set.stream(9).length(), 0u);

    const Bytes serialized = Serialize(p);
    vxdelta::ReadStreamSet read;
    ASSERT_TRUE(read.init(serialized.data(), serialized.size()));
    EncodedProgram back;
    ASSERT_EQ(vxdelta::ReadEncodedProgram(&read, &back), vxdelta::C_OK);
    EXPECT_EQ(back.imageBase, 0x00400000u);
    EXPECT_EQ(ToStd(back.abs32Rvas), ToStd(p.abs32Rvas));
    EXPECT_EQ(ToStd(back.ops), ToStd(p.ops));
    EXPECT_EQ(ToStd(back.abs32Ix), ToStd(p.abs32Ix));
    EXPECT_EQ(Serialize(back), serialized);
}

struct ReadFailureCase {
    const char *name;
    std::vector<Bytes> streams;
};

class ReadFailureTest : public ::testing::TestWithParam<ReadFailureCase> {};

TEST_P(ReadFailureTest, IsRejectedWithStatus23) {
    const Bytes serialized = SerializedSet(GetParam().streams);
    vxdelta::ReadStreamSet set;
    ASSERT_TRUE(set.init(serialized.data(), serialized.size()));
    EncodedProgram program;
    EXPECT_EQ(vxdelta::ReadEncodedProgram(&set, &program), vxdelta::C_DESERIALIZATION_FAILED);
}

std::vector<Bytes> EmptyProgramStreams() {
    return {{0, 0}, {0}, {0}, {0}, {0}, {0}, {0}, {0}, {}, {}};
}

std::vector<Bytes> With(size_t index, const Bytes &stream, std::vector<Bytes> streams) {
    streams[index] = stream;
    return streams;
}

std::vector<Bytes> Truncated(std::vector<Bytes> streams, size_t count) {
    streams.resize(count);
    return streams;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadFailureTest,
    ::testing::Values(ReadFailureCase{"extraByteInStream7", With(7, {0, 9}, EmptyProgramStreams())},
                      ReadFailureCase{"extraByteInStream8", With(8, {0}, EmptyProgramStreams())},
                      ReadFailureCase{"truncatedOps", With(1, {2, 1}, EmptyProgramStreams())},
                      ReadFailureCase{"countBeyondBytes",
                                      With(2, Varint(1000000), EmptyProgramStreams())},
                      ReadFailureCase{"noImageBase", With(0, {}, EmptyProgramStreams())},
                      ReadFailureCase{"eightStreams", Truncated(EmptyProgramStreams(), 8)}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(EncodedProgramIo, NineStreamsAreEnough) {
    std::vector<Bytes> streams = EmptyProgramStreams();
    streams.resize(9);
    const Bytes serialized = SerializedSet(streams);
    vxdelta::ReadStreamSet set;
    ASSERT_TRUE(set.init(serialized.data(), serialized.size()));
    EncodedProgram program;
    EXPECT_EQ(vxdelta::ReadEncodedProgram(&set, &program), vxdelta::C_OK);
}

Bytes Assemble(const EncodedProgram &program, vxdelta::Status expected = vxdelta::C_OK) {
    vxdelta::WriteStream out;
    EXPECT_EQ(vxdelta::AssembleProgram(program, &out), expected);
    return Contents(out);
}

TEST(AssembleProgram, CopiesBytesAndResolvesReferences) {
    // Origin 0x100; copy 1 2 3 (rva 0x103); rel32 to 0x20: 0x20 - 0x107;
    // abs32 to 0x800 + base; copy1 4; origin 0x200; abs32 to 0x1000 + base.
    EXPECT_EQ(Assemble(SampleProgram()), (Bytes{1, 2, 3, 0x19, 0xFF, 0xFF, 0xFF, 0x00, 0x08, 0x40,
                                                0x00, 4, 0x00, 0x10, 0x40, 0x00}));
}

// Positions 0x2010, 0x1008, 0x1004: the last is not sorted in, giving three
// blocks of one entry plus padding, 12 bytes each.
TEST(AssembleProgram, PeRelocationTableKeepsTheLastPositionLast) {
    EncodedProgram p;
    Fill(&p.abs32Rvas, {0x10});
    Fill(&p.ops, {0, 4, 0, 4, 0, 4, 5, 2});
    Fill(&p.origins, {0x2010, 0x1008, 0x1004});
    Fill(&p.abs32Ix, {0, 0, 0});
    p.copyBytes.push_back(0xEE);
    const Bytes refs = {0x10, 0, 0, 0, 0x10, 0, 0, 0, 0x10, 0, 0, 0};
    const Bytes table = {0x00, 0x10, 0, 0, 12, 0, 0, 0, 0x08, 0x30, 0, 0,   // page 0x1000
                         0x00, 0x20, 0, 0, 12, 0, 0, 0, 0x10, 0x30, 0, 0,   // page 0x2000
                         0x00, 0x10, 0, 0, 12, 0, 0, 0, 0x04, 0x30, 0, 0};  // page 0x1000
    EXPECT_EQ(Assemble(p), Concat({refs, table, {0xEE}}));
}

TEST(AssembleProgram, Pe64AndElfTables) {
    EncodedProgram p;
    Fill(&p.abs32Rvas, {0});
    Fill(&p.ops, {0, 4, 4, 8});
    Fill(&p.origins, {0x3000});
    Fill(&p.abs32Ix, {0, 0});
    EXPECT_EQ(Assemble(p),
              Concat({Bytes(8, 0), {0x00, 0x30, 0, 0, 12, 0, 0, 0, 0x00, 0xA0, 0x04, 0xA0}}));
    p.ops[3] = 7;
    EXPECT_EQ(
        Assemble(p),
        Concat({Bytes(8, 0), {0x00, 0x30, 0, 0, 23, 0, 0, 0, 0x04, 0x30, 0, 0, 23, 0, 0, 0}}));
}

struct ArmCase {
    const char *name;
    uint32_t op;
    uint32_t at;
    uint32_t target;
    Bytes expected;
};

class ArmFormTest : public ::testing::TestWithParam<ArmCase> {};

// Each expected instruction was encoded by hand from the architecture's
// branch formats, so encoder and assembler are checked against the ISA.
TEST_P(ArmFormTest, RebuildsTheBranch) {
    EncodedProgram p;
    Fill(&p.rel32Rvas, {GetParam().target});
    Fill(&p.ops, {0, GetParam().op});
    Fill(&p.origins, {GetParam().at});
    Fill(&p.rel32Ix, {0});
    EXPECT_EQ(Assemble(p), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArmFormTest,
    ::testing::Values(ArmCase{"thumbBeq", 0x10D0, 0x100, 0x110, {0x06, 0xD0}},
                      ArmCase{"thumbB", 0x201C, 0x100, 0x200, {0x7E, 0xE0}},
                      ArmCase{"armBl", 0x30EB, 0x1000, 0x2000, {0xFE, 0x03, 0x00, 0xEB}},
                      ArmCase{"thumb2Bl", 0x44F7, 0x1000, 0x3000, {0x01, 0xF0, 0xFE, 0xFF}},
                      ArmCase{"thumb2BneW", 0x5001, 0x1000, 0x1100, {0x40, 0xF0, 0x7E, 0x80}},
                      // Backwards: BL to 0x0F00 from 0x1000.
                      ArmCase{"thumb2BlBack", 0x44F7, 0x1000, 0x0F00, {0xFF, 0xF7, 0x7E, 0xFF}}),
    [](const auto &info) { return std::string(info.param.name); });

struct BadProgramCase {
    const char *name;
    void (*mutate)(EncodedProgram *);
};

class AssembleFailureTest : public ::testing::TestWithParam<BadProgramCase> {};

TEST_P(AssembleFailureTest, FailsWithStatus26) {
    EncodedProgram p = SampleProgram();
    GetParam().mutate(&p);
    Assemble(p, vxdelta::C_ASSEMBLY_FAILED);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AssembleFailureTest,
    ::testing::Values(
        BadProgramCase{"unusedCopyByte", [](EncodedProgram *p) { p->copyBytes.push_back(9); }},
        BadProgramCase{"unusedCopyCount", [](EncodedProgram *p) { p->copyCounts.push_back(0); }},
        BadProgramCase{"unusedAbs32Index", [](EncodedProgram *p) { p->abs32Ix.push_back(0); }},
        BadProgramCase{"unusedRel32Index", [](EncodedProgram *p) { p->rel32Ix.push_back(0); }},
        BadProgramCase{"secondPeTable",
                       [](EncodedProgram *p) {
                           p->ops.push_back(5);
                           p->ops.push_back(8);
                       }},
        BadProgramCase{"secondElfTable",
                       [](EncodedProgram *p) {
                           p->ops.push_back(7);
                           p->ops.push_back(6);
                       }},
        BadProgramCase{"indexOutsideTable", [](EncodedProgram *p) { p->abs32Ix[0] = 3; }},
        BadProgramCase{"outOfOrigins", [](EncodedProgram *p) { p->ops.push_back(0); }},
        BadProgramCase{"outOfCopyBytes", [](EncodedProgram *p) { p->copyCounts[0] = 5; }},
        BadProgramCase{"unknownOp", [](EncodedProgram *p) { p->ops.push_back(9); }},
        BadProgramCase{"armFormZero", [](EncodedProgram *p) { p->ops.push_back(0x10003); }}),
    [](const auto &info) { return std::string(info.param.name); });

// The encoder's output assembles to the bytes the program describes.
TEST(EncodeAndAssemble, AreTwoHalvesOfOneFormat) {
    AsmProgram program(vxdelta::EXE_WIN_32_X86);
    program.setImageBase(0x400000);
    const uint8_t image[] = {0x90, 0x90, 0xC3};
    ASSERT_TRUE(program.emitOrigin(0x1000));
    ASSERT_TRUE(program.emitBytes(image, 3));
    ASSERT_TRUE(program.emitRel32(program.findOrMakeRel32Label(0x1000)));
    ASSERT_TRUE(program.emitAbs32(program.findOrMakeAbs32Label(0x2000)));
    ASSERT_TRUE(program.emitByte(0xCC));
    ASSERT_TRUE(program.emitPeRelocs());
    program.defaultAssignIndexes();
    EncodedProgram encoded;
    ASSERT_EQ(vxdelta::EncodeProgram(program, &encoded), vxdelta::C_OK);
    EXPECT_EQ(Assemble(encoded),
              (Bytes{0x90, 0x90, 0xC3, 0xF9, 0xFF, 0xFF, 0xFF, 0x00, 0x20, 0x40, 0x00, 0xCC,
                     0x00, 0x10, 0,    0,    12,   0,    0,    0,    0x07, 0x30, 0,    0}));
}

}  // namespace
