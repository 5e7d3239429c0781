// The ensemble patch applier against hand-made patches: every status of its
// checks, the nested stream sets, and the file entry point's handling of the
// three paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "checksum.h"
#include "ensemble_format.h"
#include "ensemble_streams.h"
#include "file_io.h"
#include "patch_builder.h"
#include "test_support.h"
#include "vxdelta.h"

namespace {

using ensemble_test::DiffOf;
using ensemble_test::ElementPatch;
using ensemble_test::FlatSet;
using ensemble_test::HandPatch;
using ensemble_test::PlainPatch;
using ensemble_test::PredictedParameters;
using vxdelta_test::Bytes;
using vxdelta_test::Concat;
using vxdelta_test::Varint;

const Bytes &OldFile() {
    static const Bytes old = vxdelta_test::RandomBytes(3000, 11);
    return old;
}

const Bytes &NewFile() {
    static const Bytes newData = [] {
        Bytes data = OldFile();
        data.insert(data.begin() + 100, 40, 0x5A);
        data[2000] ^= 0xFF;
        return data;
    }();
    return newData;
}

vxdelta::Status Apply(const Bytes &old, const Bytes &patch, Bytes *result = nullptr) {
    vxdelta::WriteStream out;
    const vxdelta::Status status = vxdelta::ApplyEnsemblePatchStreams(
        vxdelta_test::View(old), vxdelta_test::View(patch), &out);
    if (result != nullptr) {
        *result = vxdelta_test::Contents(out);
    }
    return status;
}

HandPatch Plain() {
    return PlainPatch(OldFile(), NewFile());
}

// A patch with one element of the given kind and range.
HandPatch OneElement(uint32_t kind, uint32_t offset, uint32_t length) {
    return ElementPatch(OldFile(), NewFile(), {{kind, offset, length}});
}

// A patch whose parameter correction turns the predicted parameters of n
// elements (n is taken from descriptions) into corrected.
Bytes WithCorrectedParameters(HandPatch patch, size_t n, const Bytes &corrected) {
    patch.body[vxdelta::kBodyParameterCorrection] = DiffOf(PredictedParameters(n), corrected);
    return patch.bytes();
}

// A patch without elements whose element correction yields corrected.
Bytes WithCorrectedElements(const Bytes &corrected) {
    HandPatch patch = Plain();
    patch.body[vxdelta::kBodyElementCorrection] = DiffOf(FlatSet({}), corrected);
    return patch.bytes();
}

Bytes ChangedOldFile() {
    Bytes old = OldFile();
    old[1500] ^= 1;
    return old;
}

// Header, then bytes that are no LZMA2 section: only a check made before
// decompression can give anything but 20.
Bytes UndecodableBody() {
    return Concat({Plain().header(), Bytes{0x01, 0xFF, 0xFF}});
}

struct FailureCase {
    const char *name;
    vxdelta::Status expected;
    std::function<Bytes()> patch;
    std::function<Bytes()> old = OldFile;
};

std::ostream &operator<<(std::ostream &out, const FailureCase &c) {
    return out << c.name;
}

const uint32_t kSize = static_cast<uint32_t>(3000);

const FailureCase kFailureCases[] = {
    {"EmptyPatch", vxdelta::C_BAD_ENSEMBLE_MAGIC, [] { return Bytes(); }},
    {"RandomBytes", vxdelta::C_BAD_ENSEMBLE_MAGIC,
     [] { return Bytes{0x3C, 0x91, 0x07, 0xEE, 0x12, 0x80, 0x44, 0x09}; }},
    {"OtherMagic", vxdelta::C_BAD_ENSEMBLE_MAGIC,
     [] {
         HandPatch p = Plain();
         p.magic += 1;
         return p.bytes();
     }},
    {"MagicOnly", vxdelta::C_BAD_ENSEMBLE_VERSION, [] { return Varint(vxdelta::kEnsembleMagic); }},
    {"OtherVersion", vxdelta::C_BAD_ENSEMBLE_VERSION,
     [] {
         HandPatch p = Plain();
         p.version = 20110217;
         return p.bytes();
     }},
    {"TruncatedHeader", vxdelta::C_BAD_ENSEMBLE_HEADER,
     [] {
         return Concat({Varint(vxdelta::kEnsembleMagic), Varint(vxdelta::kEnsembleVersion),
                        Varint(1), Varint(2)});
     }},
    {"UndecodableBody", vxdelta::C_STREAM_ERROR, UndecodableBody},
    {"ChangedOldFileBeforeDecompression", vxdelta::C_BAD_ENSEMBLE_CRC, UndecodableBody,
     ChangedOldFile},
    {"ChangedOldFile", vxdelta::C_BAD_ENSEMBLE_CRC, [] { return Plain().bytes(); }, ChangedOldFile},
    {"BodyNotAStreamSet", vxdelta::C_STREAM_ERROR,
     [] {
         return Plain().withSectionContent(Bytes{1, 2, 3, 4});
     }},
    {"BodyOfThreeStreams", vxdelta::C_BAD_ENSEMBLE_HEADER,
     [] {
         HandPatch p = Plain();
         p.body.pop_back();
         return p.bytes();
     }},
    {"ElementCountMissing", vxdelta::C_BAD_ENSEMBLE_HEADER,
     [] {
         HandPatch p = Plain();
         p.body[vxdelta::kBodyDescriptions].clear();
         return p.bytes();
     }},
    {"ElementCountBeyondDescriptions", vxdelta::C_BAD_ENSEMBLE_HEADER,
     [] {
         HandPatch p = Plain();
         p.body[vxdelta::kBodyDescriptions] = Concat({Varint(200), Varint(1)});
         return p.bytes();
     }},
    {"ElementKind0", vxdelta::C_BAD_ENSEMBLE_HEADER, [] { return OneElement(0, 0, 10).bytes(); }},
    {"ElementKind8", vxdelta::C_BAD_ENSEMBLE_HEADER, [] { return OneElement(8, 0, 10).bytes(); }},
    {"DescriptionsNotConsumed", vxdelta::C_BAD_ENSEMBLE_HEADER,
     [] {
         HandPatch p = Plain();
         p.body[vxdelta::kBodyDescriptions] = Concat({Varint(0), Varint(0)});
         return p.bytes();
     }},
    {"ElementBeyondOldFile", vxdelta::C_BAD_BASE,
     [] { return OneElement(1, 10, kSize - 9).bytes(); }},
    {"ElementStartsBeyondOldFile", vxdelta::C_BAD_BASE,
     [] { return OneElement(1, kSize + 1, 0).bytes(); }},
    {"ElementRangeMissing", vxdelta::C_BAD_BASE,
     [] {
         HandPatch p = OneElement(1, 0, 0);
         p.body[vxdelta::kBodyDescriptions] = Concat({Varint(1), Varint(1)});
         return p.bytes();
     }},
    {"ElementNotAnExecutable", vxdelta::C_INPUT_NOT_RECOGNIZED,
     [] { return OneElement(1, 0, kSize).bytes(); }},
    {"ElementParametersNotEmpty", vxdelta::C_GENERAL_ERROR,
     [] {
         return WithCorrectedParameters(OneElement(1, 0, kSize), 1, FlatSet({Bytes{1, 1, 0x55}}));
     }},
    {"NestedCountAboveTen", vxdelta::C_STREAM_ERROR,
     [] { return WithCorrectedParameters(OneElement(1, 0, kSize), 1, FlatSet({Varint(11)})); }},
    {"NestedSetNamesMissingStream", vxdelta::C_STREAM_ERROR,
     [] {
         return WithCorrectedParameters(OneElement(1, 0, kSize), 1,
                                        vxdelta_test::SerializedSet({Bytes{2, 0, 0}}));
     }},
    {"NestedStreamTooShort", vxdelta::C_STREAM_ERROR,
     [] {
         return WithCorrectedParameters(OneElement(1, 0, kSize), 1, FlatSet({Bytes{2, 0, 4}}));
     }},
    {"CorrectedParametersNotASet", vxdelta::C_STREAM_ERROR,
     [] {
         return WithCorrectedParameters(Plain(), 0, Bytes{9, 9, 9});
     }},
    {"CorrectedParametersLeftOver", vxdelta::C_STREAM_NOT_CONSUMED,
     [] { return WithCorrectedParameters(Plain(), 0, FlatSet({Bytes{0}})); }},
    {"ParameterCorrectionCorrupt", vxdelta::C_GENERAL_ERROR,
     [] {
         HandPatch p = Plain();
         p.body[vxdelta::kBodyParameterCorrection] = Bytes{7};
         return p.bytes();
     }},
    {"CorrectedElementsNotASet", vxdelta::C_STREAM_ERROR,
     [] { return WithCorrectedElements(Bytes{1}); }},
    {"CorrectedElementsLeftOver", vxdelta::C_STREAM_NOT_CONSUMED,
     [] {
         return WithCorrectedElements(FlatSet({{}, Bytes{4}}));
     }},
    {"FinalCorrectionCorrupt", vxdelta::C_GENERAL_ERROR,
     [] {
         HandPatch p = Plain();
         p.body[vxdelta::kBodyFinalCorrection] = Bytes{0, 5};
         return p.bytes();
     }},
    {"ResultChecksumMismatch", vxdelta::C_BAD_ENSEMBLE_CRC,
     [] {
         HandPatch p = Plain();
         p.targetChecksum ^= 1;
         return p.bytes();
     }},
};

class EnsembleApplyFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(EnsembleApplyFailure, ReturnsItsStatus) {
    const FailureCase &c = GetParam();
    EXPECT_EQ(Apply(c.old(), c.patch()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Statuses, EnsembleApplyFailure, ::testing::ValuesIn(kFailureCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(EnsembleApply, PatchWithoutElementsCorrectsTheOldFileAlone) {
    Bytes result;
    ASSERT_EQ(Apply(OldFile(), Plain().bytes(), &result), vxdelta::C_OK);
    EXPECT_EQ(result, NewFile());
}

TEST(EnsembleApply, OversizedFinalInputPredictionIsOnlyAHint) {
    HandPatch p = Plain();
    p.finalInputSize = 0xFFFFFFFF;
    Bytes result;
    ASSERT_EQ(Apply(OldFile(), p.bytes(), &result), vxdelta::C_OK);
    EXPECT_EQ(result, NewFile());
}

TEST(EnsembleApply, ExtraBodyStreamsAreAllowed) {
    HandPatch p = Plain();
    p.body.push_back(Bytes{1, 2});
    Bytes result;
    ASSERT_EQ(Apply(OldFile(), p.bytes(), &result), vxdelta::C_OK);
    EXPECT_EQ(result, NewFile());
}

TEST(NestedStreamSets, RoundTripKeepsEachElementsStreams) {
    vxdelta::StreamSet first;
    first.stream(0).write("ab", 2);
    first.stream(2).write("xyz", 3);
    vxdelta::StreamSet empty;
    vxdelta::StreamSet accumulator;
    ASSERT_TRUE(vxdelta::WriteNestedSet(first, &accumulator));
    ASSERT_TRUE(vxdelta::WriteNestedSet(empty, &accumulator));
    // Table of the first element (c = 3, lengths 2 0 3), its stream 0, then
    // the empty element's table (c = 0).
    EXPECT_EQ(vxdelta_test::Contents(accumulator.stream(0)), (Bytes{3, 2, 0, 3, 'a', 'b', 0}));

    vxdelta::WriteStream flat;
    ASSERT_TRUE(accumulator.serialize(&flat));
    vxdelta::ReadStreamSet reading;
    ASSERT_TRUE(reading.init(flat.data(), flat.length()));
    vxdelta::ReadStreamSet element;
    ASSERT_TRUE(vxdelta::ReadNestedSet(&reading, &element));
    EXPECT_EQ(element.count(), vxdelta::kMaxStreamSetStreams);
    EXPECT_EQ(element.stream(0)->remaining(), 2U);
    EXPECT_EQ(element.stream(1)->remaining(), 0U);
    EXPECT_EQ(element.stream(2)->remaining(), 3U);
    EXPECT_FALSE(reading.consumed());
    ASSERT_TRUE(vxdelta::ReadNestedSet(&reading, &element));
    EXPECT_TRUE(element.consumed());
    EXPECT_TRUE(reading.consumed());
    EXPECT_FALSE(vxdelta::ReadNestedSet(&reading, &element));
}

TEST(NestedStreamSets, SetWithoutStreamsIsRefused) {
    const Bytes flat = vxdelta_test::SerializedSet({});
    vxdelta::ReadStreamSet reading;
    ASSERT_TRUE(reading.init(flat.data(), flat.size()));
    vxdelta::ReadStreamSet element;
    EXPECT_FALSE(vxdelta::ReadNestedSet(&reading, &element));
}

// The file entry point, with real files in the test's temporary directory.
class EnsembleApplyFiles : public ::testing::Test {
protected:
    void SetUp() override {
        vxdelta_test::WriteFile(m_Old, OldFile());
        vxdelta_test::WriteFile(m_Patch, Plain().bytes());
        std::remove(m_New.c_str());
    }
    vxdelta::Status applyTo(const std::string &newPath) const {
        return vxdelta::ApplyEnsemblePatchFiles(m_Old.c_str(), m_Patch.c_str(), newPath.c_str());
    }
    const std::string m_Old = vxdelta_test::TempPath("files.old");
    const std::string m_Patch = vxdelta_test::TempPath("files.patch");
    const std::string m_New = vxdelta_test::TempPath("files.new");
};

bool Exists(const std::string &path) {
    vxdelta::MappedFile file;
    return file.open(path.c_str());
}

TEST_F(EnsembleApplyFiles, WritesTheVerifiedNewFile) {
    ASSERT_EQ(applyTo(m_New), vxdelta::C_OK);
    EXPECT_EQ(vxdelta_test::ReadFile(m_New), NewFile());
}

TEST_F(EnsembleApplyFiles, MissingInputs) {
    const std::string missing = vxdelta_test::TempPath("absent");
    EXPECT_EQ(vxdelta::ApplyEnsemblePatchFiles(m_Old.c_str(), missing.c_str(), m_New.c_str()),
              vxdelta::C_READ_OPEN_ERROR);
    EXPECT_EQ(vxdelta::ApplyEnsemblePatchFiles(missing.c_str(), m_Patch.c_str(), m_New.c_str()),
              vxdelta::C_READ_ERROR);
    EXPECT_FALSE(Exists(m_New));
}

TEST_F(EnsembleApplyFiles, HeaderIsCheckedBeforeTheOldFileIsOpened) {
    vxdelta_test::WriteFile(m_Patch, Varint(vxdelta::kEnsembleMagic));
    const std::string missing = vxdelta_test::TempPath("absent");
    EXPECT_EQ(vxdelta::ApplyEnsemblePatchFiles(missing.c_str(), m_Patch.c_str(), m_New.c_str()),
              vxdelta::C_BAD_ENSEMBLE_VERSION);
}

TEST_F(EnsembleApplyFiles, FailedPatchLeavesNoNewFile) {
    vxdelta_test::WriteFile(m_Old, ChangedOldFile());
    EXPECT_EQ(applyTo(m_New), vxdelta::C_BAD_ENSEMBLE_CRC);
    EXPECT_FALSE(Exists(m_New));
}

TEST_F(EnsembleApplyFiles, UnwritableNewPathGivesFour) {
    const std::string unwritable = vxdelta_test::TempPath("no-such-dir/new");
    EXPECT_EQ(applyTo(unwritable), vxdelta::C_READ_ERROR);
    // Also when the result is empty: the file must still be created.
    vxdelta_test::WriteFile(m_Patch, PlainPatch(OldFile(), Bytes()).bytes());
    EXPECT_EQ(applyTo(unwritable), vxdelta::C_READ_ERROR);
    ASSERT_EQ(applyTo(m_New), vxdelta::C_OK);
    EXPECT_TRUE(vxdelta_test::ReadFile(m_New).empty());
}

}  // namespace
