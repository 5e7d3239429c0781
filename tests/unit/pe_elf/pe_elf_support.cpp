#include "pe_elf_support.h"

#include <cstdlib>
#include <cstring>

#include "container.h"
#include "disassembler.h"
#include "encoded_program.h"
#include "streams.h"

namespace pe_elf_test {

using vxdelta::AsmProgram;

Bytes LoadFile(const std::string &path) {
    return vxdelta_test::ReadFile(path);
}

std::vector<FixtureFile> AllFixtureFiles() {
    std::vector<FixtureFile> files;
    for (const auto &fixture : vxm_pe_elf_fixtures::kFixtures) {
        files.push_back({std::string(fixture.name) + "_v1", fixture.v1, fixture.kind});
        files.push_back({std::string(fixture.name) + "_v2", fixture.v2, fixture.kind});
    }
    files.push_back(
        {"system_library", vxm_pe_elf_fixtures::kSystemLibrary, vxdelta::EXE_ELF_64_X64});
    return files;
}

Bytes LoadFixture(const std::string &name) {
    for (const auto &fixture : vxm_pe_elf_fixtures::kFixtures) {
        if (name == fixture.name) {
            return LoadFile(fixture.v1);
        }
    }
    return {};
}

std::unique_ptr<AsmProgram> Disassemble(const Bytes &image) {
    std::unique_ptr<AsmProgram> program;
    if (vxdelta::DisassembleExecutable(image.data(), image.size(), &program) != vxdelta::C_OK) {
        return nullptr;
    }
    return program;
}

Bytes Reassemble(const Bytes &image, bool *ok) {
    *ok = false;
    std::unique_ptr<AsmProgram> program = Disassemble(image);
    if (program == nullptr || program->trimLabels() != vxdelta::C_OK) {
        return {};
    }
    vxdelta::EncodedProgram encoded;
    vxdelta::StreamSet set;
    vxdelta::WriteStream serialized;
    if (vxdelta::EncodeProgram(*program, &encoded) != vxdelta::C_OK ||
        vxdelta::WriteEncodedProgram(encoded, &set) != vxdelta::C_OK ||
        !set.serialize(&serialized)) {
        return {};
    }
    vxdelta::ReadStreamSet readSet;
    vxdelta::EncodedProgram read;
    vxdelta::WriteStream assembled;
    if (!readSet.init(serialized.data(), serialized.length()) ||
        vxdelta::ReadEncodedProgram(&readSet, &read) != vxdelta::C_OK ||
        vxdelta::AssembleProgram(read, &assembled) != vxdelta::C_OK) {
        return {};
    }
    *ok = true;
    return vxdelta_test::Contents(assembled);
}

size_t CountInstructions(const AsmProgram &program, vxdelta::InstructionKind kind) {
    size_t count = 0;
    for (const vxdelta::Instruction *insn : program.instructions()) {
        count += insn->kind == kind ? 1 : 0;
    }
    return count;
}

Bytes ToolRoundTrip(const Bytes &image, const std::string &name, uint32_t *directive) {
    *directive = 0;
    const std::string input = vxdelta_test::TempPath(name);
    const std::string packed = input + ".vx";
    const std::string output = input + ".out";
    vxdelta_test::WriteFile(input, image);
    const std::string tool = VXDELTA_TOOL_PATH;
    if (std::system((tool + " compress --exe " + input + " " + packed).c_str()) != 0 ||
        std::system((tool + " decompress " + packed + " " + output).c_str()) != 0) {
        return {};
    }
    const Bytes container = LoadFile(packed);
    vxdelta::ReadStream header(container.data(), container.size());
    uint32_t magic = 0;
    uint32_t checksum = 0;
    if (header.readVarint(&magic) && header.readVarint(&checksum) &&
        magic == vxdelta::kContainerMagic) {
        header.readVarint(directive);
    }
    return LoadFile(output);
}

uint16_t Get16(const Bytes &bytes, size_t offset) {
    return static_cast<uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}

uint32_t Get32(const Bytes &bytes, size_t offset) {
    return Get16(bytes, offset) | (static_cast<uint32_t>(Get16(bytes, offset + 2)) << 16);
}

uint64_t Get64(const Bytes &bytes, size_t offset) {
    return Get32(bytes, offset) | (static_cast<uint64_t>(Get32(bytes, offset + 4)) << 32);
}

void Put16(Bytes *bytes, size_t offset, uint16_t value) {
    bytes->at(offset) = static_cast<uint8_t>(value);
    bytes->at(offset + 1) = static_cast<uint8_t>(value >> 8);
}

void Put32(Bytes *bytes, size_t offset, uint32_t value) {
    Put16(bytes, offset, static_cast<uint16_t>(value));
    Put16(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}

void Put64(Bytes *bytes, size_t offset, uint64_t value) {
    Put32(bytes, offset, static_cast<uint32_t>(value));
    Put32(bytes, offset + 4, static_cast<uint32_t>(value >> 32));
}

std::vector<ElfSectionHeader> ElfSections(const Bytes &image) {
    const bool is64 = image.at(4) == 2;
    const uint64_t table = is64 ? Get64(image, 40) : Get32(image, 32);
    const uint16_t count = Get16(image, is64 ? 60 : 48);
    const size_t entry = is64 ? 64 : 40;
    std::vector<ElfSectionHeader> sections;
    for (uint16_t i = 0; i < count; ++i) {
        const size_t h = table + i * entry;
        if (is64) {
            sections.push_back({h, Get32(image, h + 4), Get64(image, h + 16), Get64(image, h + 24),
                                Get64(image, h + 32)});
        } else {
            sections.push_back({h, Get32(image, h + 4), Get32(image, h + 12), Get32(image, h + 16),
                                Get32(image, h + 20)});
        }
    }
    return sections;
}

size_t PeOptionalHeader(const Bytes &image) {
    return Get32(image, 60) + 24;
}

bool FindPeSection(const Bytes &image, const std::string &name, PeSection *section) {
    const size_t pe = Get32(image, 60);
    const size_t table = pe + 24 + Get16(image, pe + 20);
    const uint16_t count = Get16(image, pe + 6);
    for (uint16_t i = 0; i < count; ++i) {
        const size_t h = table + 40 * i;
        if (std::strncmp(reinterpret_cast<const char *>(image.data() + h), name.c_str(), 8) == 0) {
            *section = {h, Get32(image, h + 8), Get32(image, h + 12), Get32(image, h + 16),
                        Get32(image, h + 20)};
            return true;
        }
    }
    return false;
}

}  // namespace pe_elf_test
