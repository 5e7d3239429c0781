// Label alignment of the ensemble generator on executable pairs whose code
// moved (functions inserted or reordered) or whose data changed: every
// patch still rebuilds the new file, every assignment is valid and
// assembles to the same image, and where only code was inserted the labels
// of the functions both builds have keep their old indexes and make the
// correction of the reference index streams strictly smaller than the
// default order does; the generator keeps the smaller of the two forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "aligned_element.h"
#include "asm_program.h"
#include "disassembler.h"
#include "encoded_program.h"
#include "ensemble_generator.h"
#include "executable_images.h"
#include "label_alignment.h"
#include "streams.h"
#include "transformation_patcher.h"
#include "vxdelta.h"
#include "vxm_moved_fixtures.h"

namespace {

using vxdelta::AsmProgram;
using vxdelta::ReadStream;
using vxdelta::StreamSet;
using vxm_moved_fixtures::Pair;
using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ReadStream View(const Bytes &bytes) {
    return ReadStream(bytes.data(), bytes.size());
}

// The program of a whole-file image as the applier's patcher builds it.
std::unique_ptr<AsmProgram> Program(const Bytes &image) {
    std::unique_ptr<AsmProgram> program;
    EXPECT_EQ(vxdelta::DisassembleExecutable(image.data(), image.size(), &program), vxdelta::C_OK);
    if (program != nullptr) {
        EXPECT_EQ(program->trimLabels(), vxdelta::C_OK);
    }
    return program;
}

StreamSet Encoded(const AsmProgram &program) {
    vxdelta::EncodedProgram encoded;
    StreamSet set;
    EXPECT_EQ(vxdelta::EncodeProgram(program, &encoded), vxdelta::C_OK);
    EXPECT_EQ(vxdelta::WriteEncodedProgram(encoded, &set), vxdelta::C_OK);
    return set;
}

Bytes Assembled(const AsmProgram &program) {
    vxdelta::EncodedProgram encoded;
    vxdelta::WriteStream out;
    EXPECT_EQ(vxdelta::EncodeProgram(program, &encoded), vxdelta::C_OK);
    EXPECT_EQ(vxdelta::AssembleProgram(encoded, &out), vxdelta::C_OK);
    return Bytes(out.data(), out.data() + out.length());
}

// The old element's encoding, made by the applier's own patcher.
StreamSet OldEncoded(const Bytes &old) {
    vxdelta::PatcherX86_32 patcher(old.data(), old.size());
    patcher.setBase(0, static_cast<uint32_t>(old.size()));
    vxdelta::ReadStreamSet noParameters;
    StreamSet set;
    EXPECT_EQ(patcher.transformElement(&noParameters, &set), vxdelta::C_OK);
    return set;
}

void ExpectDistinctNonNegative(const std::vector<int32_t> &indexes) {
    std::set<int32_t> seen;
    for (int32_t index : indexes) {
        EXPECT_GE(index, 0);
        EXPECT_TRUE(seen.insert(index).second) << "index " << index << " given twice";
    }
}

// Function name -> rva, from the llvm-nm listing beside path.
std::map<std::string, uint32_t> FunctionRvas(const std::string &path, long long base) {
    std::map<std::string, uint32_t> rvas;
    std::ifstream in(path + ".syms");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string address;
        std::string type;
        std::string name;
        if (fields >> address >> type >> name && (type == "T" || type == "t")) {
            rvas[name] = static_cast<uint32_t>(std::stoull(address, nullptr, 16) - base);
        }
    }
    return rvas;
}

// The correction of the reference index streams (abs32_ix, rel32_ix) alone:
// what the label assignment decides.
size_t ReferenceCorrectionCost(const StreamSet &oldEncoded, const StreamSet &newEncoded) {
    StreamSet oldIndexes;
    StreamSet newIndexes;
    for (size_t stream : {size_t{3}, size_t{4}}) {
        oldIndexes.stream(stream).write(oldEncoded.stream(stream).data(),
                                        oldEncoded.stream(stream).length());
        newIndexes.stream(stream).write(newEncoded.stream(stream).data(),
                                        newEncoded.stream(stream).length());
    }
    return vxdelta::ElementCorrectionCost(oldIndexes, newIndexes);
}

class MovedPairTest : public testing::TestWithParam<Pair> {
protected:
    void SetUp() override {
        m_Old = ReadFile(GetParam().oldPath);
        m_New = ReadFile(GetParam().newPath);
        ASSERT_FALSE(m_Old.empty()) << GetParam().oldPath;
        ASSERT_FALSE(m_New.empty()) << GetParam().newPath;
    }

    Bytes m_Old;
    Bytes m_New;
};

TEST_P(MovedPairTest, EveryPatchFormRebuildsTheNewFile) {
    for (vxdelta::ElementUse use :
         {vxdelta::ElementUse::kAlways, vxdelta::ElementUse::kWhenSmaller}) {
        vxdelta::WriteStream patch;
        ASSERT_EQ(vxdelta::GenerateEnsemblePatch(View(m_Old), View(m_New), &patch, use),
                  vxdelta::C_OK);
        vxdelta::WriteStream rebuilt;
        ASSERT_EQ(vxdelta::ApplyEnsemblePatchStreams(View(m_Old), patch.reader(), &rebuilt),
                  vxdelta::C_OK);
        EXPECT_EQ(Bytes(rebuilt.data(), rebuilt.data() + rebuilt.length()), m_New);
    }
}

TEST_P(MovedPairTest, AlignedIndexesAreValidAndAssembleTheSameImage) {
    const auto oldProgram = Program(m_Old);
    const auto newProgram = Program(m_New);
    ASSERT_TRUE(oldProgram && newProgram);
    EXPECT_EQ(oldProgram->kind(), GetParam().kind);
    const Bytes byDefault = Assembled(*newProgram);
    const vxdelta::LabelIndexes aligned = vxdelta::AlignLabels(*oldProgram, *newProgram);
    ExpectDistinctNonNegative(aligned.abs32);
    ExpectDistinctNonNegative(aligned.rel32);
    ASSERT_TRUE(vxdelta::ApplyLabelIndexes(aligned, newProgram.get()));
    EXPECT_EQ(Assembled(*newProgram), byDefault);
}

TEST_P(MovedPairTest, AProgramAlignedWithItselfKeepsItsIndexes) {
    const auto oldProgram = Program(m_Old);
    const auto sameProgram = Program(m_Old);
    ASSERT_TRUE(oldProgram && sameProgram);
    const vxdelta::LabelIndexes aligned = vxdelta::AlignLabels(*oldProgram, *sameProgram);
    std::vector<int32_t> own;
    for (const auto &entry : oldProgram->rel32Labels()) {
        own.push_back(entry.second->index);
    }
    EXPECT_EQ(aligned.rel32, own);
    own.clear();
    for (const auto &entry : oldProgram->abs32Labels()) {
        own.push_back(entry.second->index);
    }
    EXPECT_EQ(aligned.abs32, own);
}

TEST_P(MovedPairTest, InsertedCodeKeepsTheSharedLabelsAndShrinksTheCorrection) {
    const Pair &pair = GetParam();
    if (!pair.codeInsertedOnly || pair.symbolBase < 0) {
        GTEST_SKIP() << "not a pair with only code inserted and symbols to name its functions";
    }
    const auto oldProgram = Program(m_Old);
    const auto newProgram = Program(m_New);
    ASSERT_TRUE(oldProgram && newProgram);
    const StreamSet oldEncoded = OldEncoded(m_Old);
    const StreamSet byDefault = Encoded(*newProgram);

    ASSERT_TRUE(vxdelta::ApplyLabelIndexes(vxdelta::AlignLabels(*oldProgram, *newProgram),
                                           newProgram.get()));
    const std::map<std::string, uint32_t> oldFunctions =
        FunctionRvas(pair.oldPath, pair.symbolBase);
    const std::map<std::string, uint32_t> newFunctions =
        FunctionRvas(pair.newPath, pair.symbolBase);
    size_t shared = 0;
    size_t moved = 0;
    for (const auto &function : newFunctions) {
        const auto before = oldFunctions.find(function.first);
        const auto oldLabel = before == oldFunctions.end()
                                  ? oldProgram->rel32Labels().end()
                                  : oldProgram->rel32Labels().find(before->second);
        const auto newLabel = newProgram->rel32Labels().find(function.second);
        if (oldLabel == oldProgram->rel32Labels().end() ||
            newLabel == newProgram->rel32Labels().end()) {
            continue;
        }
        ++shared;
        if (newLabel->second->index != oldLabel->second->index) {
            ++moved;
            ADD_FAILURE() << function.first << " changed index " << oldLabel->second->index
                          << " -> " << newLabel->second->index;
        }
    }
    EXPECT_GT(shared, 50U) << "the fixture should share many called functions";
    EXPECT_EQ(moved, 0U);
    const StreamSet aligned = Encoded(*newProgram);
    EXPECT_LT(ReferenceCorrectionCost(oldEncoded, aligned),
              ReferenceCorrectionCost(oldEncoded, byDefault));

    StreamSet kept;
    const vxdelta::ByteRange oldRange{0, m_Old.size()};
    const vxdelta::ByteRange newRange{0, m_New.size()};
    ASSERT_EQ(
        vxdelta::EncodeNewElement(View(m_Old), oldRange, View(m_New), newRange, oldEncoded, &kept),
        vxdelta::C_OK);
    EXPECT_EQ(vxdelta::ElementCorrectionCost(oldEncoded, kept),
              std::min(vxdelta::ElementCorrectionCost(oldEncoded, aligned),
                       vxdelta::ElementCorrectionCost(oldEncoded, byDefault)));
}

TEST(LabelIndexesTest, AnAssignmentOfTheWrongSizeChangesNothing) {
    const Bytes image = ReadFile(vxm_moved_fixtures::kPairs[0].oldPath);
    const auto program = Program(image);
    ASSERT_TRUE(program != nullptr);
    ASSERT_FALSE(program->rel32Labels().empty());
    vxdelta::LabelIndexes wrong;
    wrong.rel32.assign(program->rel32Labels().size() + 1, 7);
    wrong.abs32.assign(program->abs32Labels().size(), 7);
    const int32_t before = program->rel32Labels().begin()->second->index;
    EXPECT_FALSE(vxdelta::ApplyLabelIndexes(wrong, program.get()));
    EXPECT_EQ(program->rel32Labels().begin()->second->index, before);
}

std::string PairName(const testing::TestParamInfo<Pair> &info) {
    std::string name = info.param.name;
    for (char &c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Moved, MovedPairTest, testing::ValuesIn(vxm_moved_fixtures::kPairs),
                         PairName);

}  // namespace
