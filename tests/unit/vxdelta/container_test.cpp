#include "container.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "checksum.h"
#include "test_support.h"
#include "vxdelta.h"

namespace {

using vxdelta_test::Bytes;
using vxdelta_test::Concat;
using vxdelta_test::Contents;
using vxdelta_test::MessageLog;
using vxdelta_test::ReadFile;
using vxdelta_test::Section;
using vxdelta_test::SerializedSet;
using vxdelta_test::TempPath;
using vxdelta_test::ToBytes;
using vxdelta_test::Varint;
using vxdelta_test::WriteFile;

Bytes Header(uint32_t checksum, uint32_t directive) {
    return Concat({Varint(vxdelta::kContainerMagic), Varint(checksum), Varint(directive)});
}

uint32_t Checksum(const Bytes &data) {
    return vxdelta::FileChecksum(data.data(), data.size());
}

Bytes Plain(const Bytes &data) {
    return Concat({Header(Checksum(data), 1), Section(data)});
}

Bytes DisAndDiff(const Bytes &data, const std::vector<Bytes> &streams) {
    return Concat({Header(Checksum(data), 2), Section(SerializedSet(streams))});
}

struct Outcome {
    bool ok;
    std::vector<std::string> messages;
};

Outcome Decompress(const Bytes &container, const std::string &output) {
    const std::string input = TempPath("container.in");
    WriteFile(input, container);
    MessageLog log;
    const bool ok = vxdelta::DecompressFile(input.c_str(), output.c_str());
    return {ok, log.messages};
}

// A stored program whose image is "AB"; an empty diff body would not be a
// valid diff, so streams are given whole by each case.
Bytes ProgramSet() {
    return SerializedSet({{0, 0}, {1, 1}, {2, 'A', 'B'}, {0}, {0}, {0}, {0}, {1, 2}, {}, {}});
}

// A method 0 diff without header from "AB" to data.
Bytes CopyDiff(const Bytes &data) {
    const Bytes control =
        Concat({Varint(0), Varint(static_cast<uint32_t>(data.size()) * 2), Varint(0)});
    return Concat({{0},
                   Varint(static_cast<uint32_t>(data.size())),
                   Varint(static_cast<uint32_t>(control.size())),
                   Varint(0),
                   Varint(static_cast<uint32_t>(data.size())),
                   control,
                   data});
}

struct FailureCase {
    const char *name;
    Bytes container;
    std::vector<std::string> messages;
};

class DecompressFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(DecompressFailureTest, LogsTheStepsMessagesAndWritesNothing) {
    const std::string output = TempPath("untouched.out");
    WriteFile(output, ToBytes("previous"));
    const Outcome r = Decompress(GetParam().container, output);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.messages, GetParam().messages);
    EXPECT_EQ(ReadFile(output), ToBytes("previous"));
}

const Bytes kData = ToBytes("hello container");

Bytes WithSizeDelta(const Bytes &data, int delta) {
    const Bytes section = Section(data);
    vxdelta::ReadStream in = vxdelta_test::View(section);
    uint8_t property = 0;
    uint32_t size = 0;
    in.readBytes(&property, 1);
    in.readVarint(&size);
    return Concat({Header(Checksum(data), 1),
                   {property},
                   Varint(size + delta),
                   Bytes(in.position(), in.position() + in.remaining())});
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecompressFailureTest,
    ::testing::Values(
        FailureCase{"empty", {}, {"could not open lzma file"}},
        FailureCase{"oneVarint", Varint(vxdelta::kContainerMagic), {"could not read lzma header"}},
        FailureCase{"twoVarints",
                    Concat({Varint(vxdelta::kContainerMagic), Varint(5)}),
                    {"could not read lzma header"}},
        FailureCase{
            "badMagic", Concat({Varint(132781928), Varint(0), Varint(1)}), {"not lzma file"}},
        FailureCase{"directive0",
                    Concat({Header(0, 0), Section(kData)}),
                    {"Unknown preprocessing dirrective"}},
        FailureCase{"directive3",
                    Concat({Header(0, 3), Section(kData)}),
                    {"Unknown preprocessing dirrective"}},
        FailureCase{"earlyEndMarker",
                    WithSizeDelta(kData, 1),
                    {"Error uncompressing data 0", "could not decompress file"}},
        FailureCase{"property41",
                    Concat({Header(0, 1), {41, 0, 0}}),
                    {"Error uncompressing data 4", "could not decompress file"}},
        FailureCase{"checksumMismatch",
                    Concat({Header(Checksum(kData) ^ 1, 1), Section(kData)}),
                    {"crc mismatch"}},
        FailureCase{"directive2Broken",
                    Concat({Header(0, 2), {0x10, 5, 0}}),
                    {"Error uncompressing data 0", "could not decompress file"}},
        FailureCase{"noStreams", DisAndDiff(kData, {}), {"dis_and_diff too small"}},
        FailureCase{"oneStream", DisAndDiff(kData, {CopyDiff(kData)}), {"dis_and_diff too small"}},
        FailureCase{"trailingAfterSet",
                    Concat({Header(0, 2), Section(Concat({SerializedSet({{}, {}}), {0}}))}),
                    {"could not init dif_and_dis set"}},
        FailureCase{"programNotASet",
                    DisAndDiff(kData, {{1, 2, 3}, CopyDiff(kData)}),
                    {"could not init program_source set"}},
        FailureCase{"notAProgram",
                    DisAndDiff(kData, {SerializedSet({{}}), CopyDiff(kData)}),
                    {"could not read encoded program"}},
        FailureCase{
            "programDoesNotAssemble",
            DisAndDiff(kData, {SerializedSet({{0, 0}, {1, 2}, {0}, {0}, {0}, {0}, {0}, {0}, {}}),
                               CopyDiff(kData)}),
            {"could not assemble program"}},
        FailureCase{"diffDoesNotApply",
                    DisAndDiff(kData, {ProgramSet(), {0, 5}}),
                    {"could not apply diff"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DecompressFile, MissingInputCannotBeOpened) {
    MessageLog log;
    EXPECT_FALSE(
        vxdelta::DecompressFile(TempPath("no-such-file").c_str(), TempPath("out").c_str()));
    EXPECT_EQ(log.messages, std::vector<std::string>{"could not open lzma file"});
}

// magic, checksum FF FF FF FF 0F, directive 1, an empty section.
TEST(DecompressFile, ZeroByteFileRoundTrips) {
    vxdelta::WriteStream container;
    ASSERT_TRUE(vxdelta::CompressBuffer(nullptr, 0, true, &container));
    const Bytes bytes = Contents(container);
    const Bytes expected_start =
        Concat({Varint(vxdelta::kContainerMagic), {0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x01}});
    ASSERT_GE(bytes.size(), expected_start.size() + 3);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + expected_start.size()), expected_start);
    EXPECT_EQ(Bytes(bytes.end() - 2, bytes.end()), (Bytes{0x00, 0x00}));

    const std::string output = TempPath("zero.out");
    WriteFile(output, ToBytes("old content"));
    const Outcome r = Decompress(bytes, output);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_TRUE(ReadFile(output).empty());
}

TEST(DecompressFile, TrailingBytesAfterThePayloadAreIgnored) {
    const std::string output = TempPath("trailing.out");
    EXPECT_TRUE(Decompress(Concat({Plain(kData), ToBytes("junk")}), output).ok);
    EXPECT_EQ(ReadFile(output), kData);
}

TEST(DecompressFile, OutputInMissingDirectoryFails) {
    for (const Bytes &data : {kData, Bytes{}}) {
        const Outcome r = Decompress(Plain(data), TempPath("missing-dir/out"));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.messages, std::vector<std::string>{"could not write output file"});
    }
}

TEST(DecompressFile, DisAndDiffAssemblesProgramsAndAppliesTheDiff) {
    const Outcome r =
        Decompress(DisAndDiff(kData, {ProgramSet(), CopyDiff(kData)}), TempPath("handmade.out"));
    EXPECT_TRUE(r.ok) << (r.messages.empty() ? "" : r.messages[0]);
    EXPECT_EQ(ReadFile(TempPath("handmade.out")), kData);
}

// An image with references, disassembled by hand as the disassemblers will:
// code bytes, a relative call, an absolute pointer and a relocation table.
std::unique_ptr<vxdelta::AsmProgram> HandDisassembly(const Bytes &image, uint32_t origin) {
    auto program = std::make_unique<vxdelta::AsmProgram>(vxdelta::EXE_WIN_32_X86);
    program->setImageBase(0x400000);
    EXPECT_TRUE(program->emitOrigin(origin));
    EXPECT_TRUE(program->emitBytes(image.data(), 16));
    EXPECT_TRUE(program->emitRel32(program->findOrMakeRel32Label(origin + 64)));
    EXPECT_TRUE(program->emitByte(image[20]));
    EXPECT_TRUE(program->emitAbs32(program->findOrMakeAbs32Label(origin + 8)));
    EXPECT_TRUE(program->emitBytes(image.data() + 25, static_cast<uint32_t>(image.size() - 25)));
    EXPECT_TRUE(program->emitPeRelocs());
    program->defaultAssignIndexes();
    return program;
}

TEST(CompressWithPrograms, RoundTripsThroughDirective2) {
    const Bytes first = vxdelta_test::RandomBytes(3000, 11);
    const Bytes second = vxdelta_test::RandomBytes(2000, 12);
    const Bytes file = Concat({ToBytes("fat header"), first, second});
    auto a = HandDisassembly(first, 0x1000);
    auto b = HandDisassembly(second, 0x8000);
    vxdelta::AsmProgram *programs[] = {a.get(), b.get()};
    vxdelta::WriteStream container;
    ASSERT_TRUE(vxdelta::CompressWithPrograms(file.data(), file.size(), programs, 2, &container));
    const Bytes bytes = Contents(container);
    vxdelta::ReadStream header = vxdelta_test::View(bytes);
    uint32_t values[3] = {};
    for (uint32_t &v : values) {
        ASSERT_TRUE(header.readVarint(&v));
    }
    EXPECT_EQ(values[0], vxdelta::kContainerMagic);
    EXPECT_EQ(values[1], Checksum(file));
    EXPECT_EQ(values[2], vxdelta::kDirectiveDisAndDiff);
    const Outcome r = Decompress(bytes, TempPath("programs.out"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(ReadFile(TempPath("programs.out")), file);
}

class CompressRoundTripTest : public ::testing::TestWithParam<size_t> {};

TEST_P(CompressRoundTripTest, FileRoundTripsAndStaysPlainWithoutADisassembler) {
    Bytes data = vxdelta_test::RandomBytes(GetParam(), 21);
    for (size_t i = 0; i < data.size(); i += 3) {
        data[i] = 0;
    }
    if (data.size() >= 4096) {
        data[0] = 0xCA, data[1] = 0xFE, data[2] = 0xBA, data[3] = 0xBE, data[7] = 2;
    }
    const std::string input = TempPath("plain.in");
    const std::string packed = TempPath("plain.lz");
    const std::string output = TempPath("plain.out");
    WriteFile(input, data);
    ASSERT_TRUE(vxdelta::CompressFile(input.c_str(), packed.c_str(), true));
    const Bytes container = ReadFile(packed);
    vxdelta::ReadStream header = vxdelta_test::View(container);
    uint32_t directive = 0;
    ASSERT_TRUE(header.readVarint(&directive) && header.readVarint(&directive) &&
                header.readVarint(&directive));
    EXPECT_EQ(directive, vxdelta::kDirectivePlain);
    ASSERT_TRUE(vxdelta::DecompressFile(packed.c_str(), output.c_str()));
    EXPECT_EQ(ReadFile(output), data);
}

// 3 MiB: dictionary-reset segments decoded in place, mapped input dropped behind.
INSTANTIATE_TEST_SUITE_P(Sizes, CompressRoundTripTest, ::testing::Values(1, 5000, 300000, 3 << 20));

}  // namespace
