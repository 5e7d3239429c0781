#include "macho_test_support.h"

#include <gtest/gtest.h>

#include <sstream>

#include "encoded_program.h"
#include "streams.h"

namespace macho_test {

Disassembled Disassemble(Bytes bytes) {
    Disassembled result;
    result.bytes = std::move(bytes);
    result.disassembler =
        std::make_unique<vxdelta::DisassemblerMacho>(result.bytes.data(), result.bytes.size());
    EXPECT_TRUE(result.disassembler->parseHeader()) << result.disassembler->failureReason();
    result.program = std::make_unique<vxdelta::AsmProgram>(result.disassembler->kind());
    EXPECT_TRUE(result.disassembler->disassemble(result.program.get()));
    return result;
}

namespace {

using Insns = const vxdelta::Instruction *const *;

uint32_t Covered(const vxdelta::Instruction &insn) {
    return insn.kind == vxdelta::INSN_REL32 ? 4 : (insn.kind == vxdelta::INSN_BYTE ? 1 : 0);
}

std::string DescribeRange(Insns begin, Insns end) {
    std::ostringstream out;
    out << std::hex;
    size_t run = 0;
    const auto flush = [&]() {
        if (run != 0) {
            out << " B" << std::dec << run << std::hex;
            run = 0;
        }
    };
    for (Insns it = begin; it != end; ++it) {
        const vxdelta::Instruction &insn = **it;
        if (insn.kind == vxdelta::INSN_BYTE) {
            ++run;
            continue;
        }
        flush();
        if (insn.kind == vxdelta::INSN_ORIGIN) {
            out << " O:" << insn.rva;
        } else if (insn.kind == vxdelta::INSN_REL32) {
            out << " R:" << insn.label->rva;
        } else {
            out << " ?" << static_cast<int>(insn.kind);
        }
    }
    flush();
    const std::string text = out.str();
    return text.empty() ? text : text.substr(1);
}

}  // namespace

std::string Describe(const vxdelta::AsmProgram &program) {
    return DescribeRange(program.instructions().begin(), program.instructions().end());
}

std::string DescribeFirstSection(const vxdelta::AsmProgram &program, uint32_t size) {
    Insns begin = program.instructions().begin();
    const Insns end = program.instructions().end();
    while (begin != end && (*begin)->kind != vxdelta::INSN_ORIGIN) {
        ++begin;
    }
    Insns stop = begin == end ? end : begin + 1;
    for (uint32_t covered = 0; stop != end && covered < size; ++stop) {
        covered += Covered(**stop);
    }
    return DescribeRange(begin, stop);
}

std::map<uint32_t, uint32_t> Rel32References(const vxdelta::AsmProgram &program) {
    std::map<uint32_t, uint32_t> references;
    uint32_t rva = 0;
    for (const vxdelta::Instruction *insn : program.instructions()) {
        switch (insn->kind) {
            case vxdelta::INSN_ORIGIN:
                rva = insn->rva;
                break;
            case vxdelta::INSN_BYTE:
                rva += 1;
                break;
            case vxdelta::INSN_REL32:
                references[rva] = insn->label->rva;
                rva += 4;
                break;
            default:
                ADD_FAILURE() << "unexpected instruction kind " << static_cast<int>(insn->kind);
                break;
        }
    }
    return references;
}

Bytes Assemble(const vxdelta::AsmProgram &program) {
    vxdelta::EncodedProgram encoded;
    EXPECT_EQ(vxdelta::EncodeProgram(program, &encoded), vxdelta::C_OK);
    vxdelta::WriteStream out;
    EXPECT_EQ(vxdelta::AssembleProgram(encoded, &out), vxdelta::C_OK);
    return Bytes(out.data(), out.data() + out.length());
}

}  // namespace macho_test
