// Helpers for the PE and ELF disassembler tests: the generated fixtures,
// the full program pipeline and byte patches at little-endian fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "asm_program.h"
#include "test_support.h"
#include "vxm_pe_elf_fixtures.h"

namespace pe_elf_test {

using vxdelta_test::Bytes;

Bytes LoadFile(const std::string &path);

// Every generated fixture (both versions) and the system library, as
// (label, path, expected kind) rows for parameterised tests.
struct FixtureFile {
    std::string label;
    std::string path;
    int kind;
};
std::vector<FixtureFile> AllFixtureFiles();
// The v1 file of the fixture called name.
Bytes LoadFixture(const std::string &name);

// Disassembles the image; nullptr when DisassembleExecutable fails.
std::unique_ptr<vxdelta::AsmProgram> Disassemble(const Bytes &image);

// What disassemble -> trim -> encode -> write -> read -> assemble gives;
// false in *ok when a step fails.
Bytes Reassemble(const Bytes &image, bool *ok);

// Instructions of the program with the given kind.
size_t CountInstructions(const vxdelta::AsmProgram &program, vxdelta::InstructionKind kind);

// Runs `vxdelta compress --exe` and `vxdelta decompress` over the image in
// the temporary directory: the decompressed bytes, and the container's
// directive in *directive (0 when it cannot be read).
Bytes ToolRoundTrip(const Bytes &image, const std::string &name, uint32_t *directive);

uint16_t Get16(const Bytes &bytes, size_t offset);
uint32_t Get32(const Bytes &bytes, size_t offset);
uint64_t Get64(const Bytes &bytes, size_t offset);
void Put16(Bytes *bytes, size_t offset, uint16_t value);
void Put32(Bytes *bytes, size_t offset, uint32_t value);
void Put64(Bytes *bytes, size_t offset, uint64_t value);

// The header of section index in an ELF image (32- or 64-bit by class byte).
struct ElfSectionHeader {
    size_t headerOffset;  // of the section header itself
    uint32_t type;
    uint64_t address;
    uint64_t offset;
    uint64_t size;
};
std::vector<ElfSectionHeader> ElfSections(const Bytes &image);

// PE section header fields by name (".text", ".reloc").
struct PeSection {
    size_t headerOffset;
    uint32_t virtualSize;
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawPointer;
};
bool FindPeSection(const Bytes &image, const std::string &name, PeSection *section);
// File offset of the PE optional header.
size_t PeOptionalHeader(const Bytes &image);

}  // namespace pe_elf_test
