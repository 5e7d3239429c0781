// Helpers of the Mach-O tests: disassembling an image, a compact picture of
// a program's instructions and the rel32 references it holds.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "asm_program.h"
#include "disassembler_macho.h"
#include "macho_builder.h"

namespace macho_test {

using macho_fixture::Bytes;

// A parsed and disassembled image; the bytes are kept alive with it.
struct Disassembled {
    Bytes bytes;
    std::unique_ptr<vxdelta::DisassemblerMacho> disassembler;
    std::unique_ptr<vxdelta::AsmProgram> program;
};

// Parses and disassembles bytes; fails the current test if either step does.
Disassembled Disassemble(Bytes bytes);

// The instructions as text: "O:1400" for an origin, "B3" for a run of three
// literal bytes, "R:1500" for a rel32 reference to the label at 0x1500.
std::string Describe(const vxdelta::AsmProgram &program);
// The same for the instructions from the first origin on that cover size
// bytes: one code section of a Mach-O program.
std::string DescribeFirstSection(const vxdelta::AsmProgram &program, uint32_t size);

// Operand rva -> label rva of every INSN_REL32, following the origins.
std::map<uint32_t, uint32_t> Rel32References(const vxdelta::AsmProgram &program);

// The bytes the program assembles to.
Bytes Assemble(const vxdelta::AsmProgram &program);

}  // namespace macho_test
