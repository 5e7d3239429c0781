// AsmProgram -> EncodedProgram. Literal runs are merged into one OP_COPY so
// that a stretch of bytes between two other operations costs one op.
#include "encoded_program.h"
#include "log.h"

namespace vxdelta {

namespace {

constexpr uint32_t kUnassignedRva = 0xFFFFFFFF;

bool FillRvaTable(const AsmProgram::LabelMap &labels, PodVector<uint32_t> *table) {
    for (const auto &entry : labels) {
        const Label *label = entry.second;
        if (label->index < 0) {
            return false;
        }
        const auto slot = static_cast<size_t>(label->index);
        if (slot >= table->size() && !table->resize(slot + 1, kUnassignedRva)) {
            return false;
        }
        (*table)[slot] = label->rva;
    }
    // Gaps repeat the previous address so that they delta-encode to 0.
    uint32_t previous = 0;
    for (uint32_t &rva : *table) {
        if (rva == kUnassignedRva) {
            rva = previous;
        }
        previous = rva;
    }
    return true;
}

bool AddCopy(EncodedProgram *p, const uint8_t *bytes, uint32_t n) {
    if (!p->ops.empty() && p->ops.back() == OP_COPY1) {
        p->ops.back() = OP_COPY;
        if (!p->copyCounts.push_back(1)) {
            return false;
        }
    }
    if (!p->ops.empty() && p->ops.back() == OP_COPY) {
        p->copyCounts.back() += n;
        return p->copyBytes.append(bytes, n);
    }
    if (n == 1) {
        return p->ops.push_back(OP_COPY1) && p->copyBytes.push_back(bytes[0]);
    }
    return p->ops.push_back(OP_COPY) && p->copyCounts.push_back(n) && p->copyBytes.append(bytes, n);
}

bool AddReference(PodVector<uint32_t> *ops, uint32_t op, PodVector<uint32_t> *indexes,
                  const Label *label) {
    if (label == nullptr || label->index < 0) {
        difflog::LogStream(difflog::LogLevel_ERROR) << "REACHED UNREACHABLE";
        return false;
    }
    return ops->push_back(op) && indexes->push_back(static_cast<uint32_t>(label->index));
}

bool EncodeInstruction(const Instruction &insn, ExeType kind, EncodedProgram *p) {
    switch (insn.kind) {
        case INSN_ORIGIN:
            return p->ops.push_back(OP_ORIGIN) && p->origins.push_back(insn.rva);
        case INSN_BYTE:
            return AddCopy(p, &insn.byte, 1);
        case INSN_BYTES:
            return insn.length == 0 || AddCopy(p, insn.bytes, insn.length);
        case INSN_REL32:
            return AddReference(&p->ops, OP_REL32, &p->rel32Ix, insn.label);
        case INSN_REL32_ARM:
            return AddReference(&p->ops, insn.armOpcode, &p->rel32Ix, insn.label);
        case INSN_ABS32:
            return AddReference(&p->ops, OP_ABS32, &p->abs32Ix, insn.label);
        case INSN_PE_RELOCS:
            return p->ops.push_back(kind == EXE_WIN_32_X86 ? OP_PE_RELOC_TABLE
                                                           : OP_PE64_RELOC_TABLE);
        case INSN_ELF_RELOCS:
            return p->ops.push_back(OP_ELF_RELOC_TABLE);
        case INSN_ELF_ARM_RELOCS:
            return p->ops.push_back(OP_ELF_ARM_RELOC_TABLE);
    }
    difflog::LogStream(difflog::LogLevel_ERROR) << "REACHED UNREACHABLE"
                                                << "Unknown Insn OP kind";
    return true;
}

}  // namespace

Status EncodeProgram(const AsmProgram &program, EncodedProgram *encoded) {
    encoded->imageBase = program.imageBase();
    if (!FillRvaTable(program.abs32Labels(), &encoded->abs32Rvas) ||
        !FillRvaTable(program.rel32Labels(), &encoded->rel32Rvas)) {
        return C_GENERAL_ERROR;
    }
    for (const Instruction *insn : program.instructions()) {
        if (!EncodeInstruction(*insn, program.kind(), encoded)) {
            return C_GENERAL_ERROR;
        }
    }
    return C_OK;
}

}  // namespace vxdelta
