// The disassembler on the executables the build links from C sources,
// cross-checked against llvm-objdump's listings of the same files: the
// segments, the code sections, the relative base, the reduced length and the
// rel32 references of the direct branches and RIP-relative loads.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include "disassembler.h"
#include "macho_test_support.h"
#include "test_support.h"
#include "vxm_macho_fixtures.h"

namespace {

using macho_fixture::Bytes;

struct ListedSegment {
    uint64_t vmAddress = 0, vmSize = 0, fileOffset = 0, fileSize = 0, sections = 0;
};
struct ListedSection {
    uint64_t address = 0, size = 0, fileOffset = 0;
    bool code = false;  // regular type with the pure-instructions attribute
};
struct LoadCommands {
    std::vector<ListedSegment> segments;
    std::vector<ListedSection> sections;
};

uint64_t Number(const std::string &text) {
    return std::stoull(text, nullptr, 0);
}

// The segment and section fields of `llvm-objdump --macho --private-headers`.
LoadCommands ReadLoadCommands(const char *path) {
    std::ifstream in(path);
    LoadCommands listed;
    std::string line;
    const std::regex field(R"(^\s*(\w+) (\S+)(.*)$)");
    bool inSegment = false;
    while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, field)) {
            inSegment = line == "Section" ? false : inSegment;
            if (line == "Section") {
                listed.sections.emplace_back();
            }
            continue;
        }
        const std::string key = m[1];
        const std::string value = m[2];
        if (key == "cmd") {
            inSegment = value == "LC_SEGMENT_64" || value == "LC_SEGMENT";
            if (inSegment) {
                listed.segments.emplace_back();
            }
            continue;
        }
        if (inSegment) {
            ListedSegment &s = listed.segments.back();
            uint64_t *target = key == "vmaddr"     ? &s.vmAddress
                               : key == "vmsize"   ? &s.vmSize
                               : key == "fileoff"  ? &s.fileOffset
                               : key == "filesize" ? &s.fileSize
                               : key == "nsects"   ? &s.sections
                                                   : nullptr;
            if (target != nullptr) {
                *target = Number(value);
            }
        } else if (!listed.sections.empty()) {
            ListedSection &s = listed.sections.back();
            if (key == "addr") {
                s.address = Number(value);
            } else if (key == "size") {
                s.size = Number(value);
            } else if (key == "offset") {
                s.fileOffset = Number(value);
            } else if (key == "type") {
                s.code = value == "S_REGULAR";
            } else if (key == "attributes") {
                s.code = s.code &&
                         (value + std::string(m[3])).find("PURE_INSTRUCTIONS") != std::string::npos;
            }
        }
    }
    return listed;
}

// One instruction of `llvm-objdump -d` with a 4-byte relative operand that
// the disassembler should turn into a reference.
struct ListedReference {
    uint64_t operandAddress;
    uint64_t target;
};

// Direct calls and jumps (E8, E9, 0F 8x without the parity jumps) and, in
// 64-bit code, REX.W/REX.B lea/mov with RIP+disp32, with objdump's target.
std::vector<ListedReference> ReadReferences(const char *path, bool wide) {
    std::ifstream in(path);
    std::vector<ListedReference> found;
    const std::regex insn(R"(^\s*([0-9a-f]+):\s+((?:[0-9a-f]{2} )+)\s*(\S+)\s+(.*)$)");
    const std::regex branchTarget(R"(^0x([0-9a-f]+))");
    const std::regex ripTarget(R"(\(%rip\).*## 0x([0-9a-f]+))");
    std::string line;
    while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, insn)) {
            continue;
        }
        std::vector<unsigned> bytes;
        std::istringstream hex(m[2]);
        for (unsigned byte = 0; hex >> std::hex >> byte;) {
            bytes.push_back(byte);
        }
        const uint64_t address = std::stoull(m[1], nullptr, 16);
        const std::string operands = m[4];
        std::smatch t;
        size_t operandAt = 0;
        if (bytes.size() == 5 && (bytes[0] == 0xE8 || bytes[0] == 0xE9)) {
            operandAt = 1;
        } else if (bytes.size() == 6 && bytes[0] == 0x0F && (bytes[1] & 0xF0) == 0x80 &&
                   bytes[1] != 0x8A && bytes[1] != 0x8B) {
            operandAt = 2;
        }
        if (operandAt != 0 && std::regex_search(operands, t, branchTarget)) {
            found.push_back({address + operandAt, std::stoull(t[1], nullptr, 16)});
            continue;
        }
        const bool ripLoad = wide && bytes.size() == 7 && (bytes[0] == 0x48 || bytes[0] == 0x49) &&
                             (bytes[1] == 0x8D || bytes[1] == 0x8B);
        if (ripLoad && std::regex_search(operands, t, ripTarget)) {
            found.push_back({address + 3, std::stoull(t[1], nullptr, 16)});
        }
    }
    return found;
}

struct Fixture {
    const char *name;
    const char *image;
    const char *loadCommands;
    const char *disassembly;
    bool wide;
    size_t minimumReferences;  // the listing has at least these many
};

class MachoRealExecutable : public testing::TestWithParam<Fixture> {
protected:
    void SetUp() override {
        listed = ReadLoadCommands(GetParam().loadCommands);
        ASSERT_FALSE(listed.segments.empty());
        // 64-bit files keep only segments with sections; 32-bit files all.
        for (const ListedSegment &s : listed.segments) {
            if (!GetParam().wide || s.sections != 0) {
                kept.push_back(s);
            }
        }
        ASSERT_FALSE(kept.empty());
        base = kept[0].vmAddress;
        for (const ListedSegment &s : kept) {
            base = std::min(base, s.vmAddress);
            extent = std::max(extent, s.fileOffset + s.fileSize);
        }
        result = macho_test::Disassemble(vxdelta_test::ReadFile(GetParam().image));
        ASSERT_NE(result.program, nullptr);
    }

    bool InKeptSegment(uint64_t address) const {
        return std::any_of(kept.begin(), kept.end(), [&](const ListedSegment &s) {
            return s.vmAddress <= address && address < s.vmAddress + s.vmSize;
        });
    }

    LoadCommands listed;
    std::vector<ListedSegment> kept;
    uint64_t base = 0;
    uint64_t extent = 0;
    macho_test::Disassembled result;
};

TEST_P(MachoRealExecutable, SegmentsBaseAndLength) {
    const auto &segments = result.disassembler->segments();
    ASSERT_EQ(segments.size(), kept.size());
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(segments[i].vmAddress, kept[i].vmAddress - base) << i;
        EXPECT_EQ(segments[i].vmSize, kept[i].vmSize) << i;
        EXPECT_EQ(segments[i].fileOffset, kept[i].fileOffset) << i;
    }
    EXPECT_EQ(result.disassembler->length(), extent);
    vxdelta::ExeType kind = vxdelta::EXE_UNKNOWN;
    size_t length = 0;
    ASSERT_EQ(vxdelta::DetectExeType(result.bytes.data(), result.bytes.size(), &kind, &length),
              vxdelta::C_OK);
    EXPECT_EQ(kind, GetParam().wide ? vxdelta::EXE_MACHO_X64 : vxdelta::EXE_MACHO_X86);
    EXPECT_EQ(length, extent);
    EXPECT_EQ(result.program->kind(), kind);
}

TEST_P(MachoRealExecutable, CodeSectionsAreTheRegularInstructionSections) {
    std::vector<ListedSection> code;
    std::copy_if(listed.sections.begin(), listed.sections.end(), std::back_inserter(code),
                 [](const ListedSection &s) { return s.code; });
    std::sort(code.begin(), code.end(), [](const ListedSection &a, const ListedSection &b) {
        return a.fileOffset < b.fileOffset;
    });
    const auto &sections = result.disassembler->codeSections();
    ASSERT_EQ(sections.size(), code.size());
    for (size_t i = 0; i < code.size(); ++i) {
        EXPECT_EQ(sections[i].address, code[i].address - base) << i;
        EXPECT_EQ(sections[i].size, code[i].size) << i;
        EXPECT_EQ(sections[i].fileOffset, code[i].fileOffset) << i;
    }
}

TEST_P(MachoRealExecutable, ListedReferencesBecomeRel32WithTheListedTarget) {
    const auto references = macho_test::Rel32References(*result.program);
    const auto listedReferences = ReadReferences(GetParam().disassembly, GetParam().wide);
    size_t checked = 0;
    for (const ListedReference &ref : listedReferences) {
        const bool inCode = std::any_of(result.disassembler->codeSections().begin(),
                                        result.disassembler->codeSections().end(),
                                        [&](const vxdelta::DisassemblerMacho::CodeSection &s) {
                                            return s.address <= ref.operandAddress - base &&
                                                   ref.operandAddress - base < s.address + s.size;
                                        });
        if (!inCode || !InKeptSegment(ref.target)) {
            continue;
        }
        ++checked;
        const auto found = references.find(static_cast<uint32_t>(ref.operandAddress - base));
        ASSERT_NE(found, references.end()) << std::hex << "operand at 0x" << ref.operandAddress;
        EXPECT_EQ(found->second, ref.target - base) << std::hex << ref.operandAddress;
    }
    EXPECT_GE(checked, GetParam().minimumReferences);
}

TEST_P(MachoRealExecutable, AssemblesBackToTheImage) {
    EXPECT_EQ(macho_test::Assemble(*result.program),
              Bytes(result.bytes.begin(),
                    result.bytes.begin() + static_cast<ptrdiff_t>(result.disassembler->length())));
}

const Fixture kFixtures[] = {
    {"Executable64", vxm_macho_fixtures::kAppV1, vxm_macho_fixtures::kAppV1LoadCommands,
     vxm_macho_fixtures::kAppV1Disassembly, true, 20},
    {"Library64", vxm_macho_fixtures::kLibrary, vxm_macho_fixtures::kLibraryLoadCommands,
     vxm_macho_fixtures::kLibraryDisassembly, true, 4},
    {"Executable32", vxm_macho_fixtures::kApp32, vxm_macho_fixtures::kApp32LoadCommands,
     vxm_macho_fixtures::kApp32Disassembly, false, 5},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, MachoRealExecutable, testing::ValuesIn(kFixtures),
                         [](const testing::TestParamInfo<Fixture> &info) {
                             return std::string(info.param.name);
                         });

TEST(MachoDetection, OtherFilesAreNotRecognised) {
    for (const char *path : {vxm_macho_fixtures::kAppArm64, vxm_macho_fixtures::kUniversal}) {
        const Bytes data = vxdelta_test::ReadFile(path);
        vxdelta::ExeType kind = vxdelta::EXE_MACHO_X64;
        size_t length = 1;
        EXPECT_EQ(vxdelta::DetectExeType(data.data(), data.size(), &kind, &length),
                  vxdelta::C_INPUT_NOT_RECOGNIZED)
            << path;
        EXPECT_EQ(kind, vxdelta::EXE_UNKNOWN);
        EXPECT_EQ(length, 0u);
        std::unique_ptr<vxdelta::AsmProgram> program;
        EXPECT_EQ(vxdelta::DisassembleExecutable(data.data(), data.size(), &program),
                  vxdelta::C_INPUT_NOT_RECOGNIZED);
        EXPECT_EQ(program, nullptr);
    }
}

TEST(MachoDetection, DisassembleExecutableGivesAProgramOfTheDetectedKind) {
    const Bytes data = vxdelta_test::ReadFile(vxm_macho_fixtures::kApp32);
    std::unique_ptr<vxdelta::AsmProgram> program;
    ASSERT_EQ(vxdelta::DisassembleExecutable(data.data(), data.size(), &program), vxdelta::C_OK);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->kind(), vxdelta::EXE_MACHO_X86);
    EXPECT_FALSE(program->rel32Labels().empty());
}

}  // namespace
