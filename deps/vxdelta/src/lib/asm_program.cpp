#include "asm_program.h"

#include <new>

#include "log.h"

namespace vxdelta {

AsmProgram::~AsmProgram() {
    for (Instruction *block : m_Blocks) {
        delete[] block;
    }
    for (Label *label : m_AllLabels) {
        delete label;
    }
}

Instruction *AsmProgram::store(const Instruction &instruction) {
    if (m_BlockUsed == kInstructionBlock) {
        if (!m_Blocks.reserveOneMore()) {
            return nullptr;
        }
        auto *block = new (std::nothrow) Instruction[kInstructionBlock];
        if (block == nullptr) {
            return nullptr;
        }
        m_Blocks.push_back(block);
        m_BlockUsed = 0;
    }
    Instruction *copy = &m_Blocks.back()[m_BlockUsed++];
    *copy = instruction;
    return copy;
}

bool AsmProgram::append(const Instruction &instruction) {
    if (!m_Instructions.reserveOneMore()) {
        return false;
    }
    Instruction *copy = store(instruction);
    return copy != nullptr && m_Instructions.push_back(copy);
}

bool AsmProgram::emitOrigin(uint32_t rva) {
    return append({INSN_ORIGIN, 0, 0, rva, nullptr, 0, nullptr});
}

bool AsmProgram::emitByte(uint8_t value) {
    if (m_BytePool == nullptr) {
        m_BytePool.reset(new (std::nothrow) Instruction[256]);
        if (m_BytePool == nullptr) {
            return false;
        }
        for (int b = 0; b < 256; ++b) {
            m_BytePool[b] = {INSN_BYTE, static_cast<uint8_t>(b), 0, 0, nullptr, 0, nullptr};
        }
    }
    return m_Instructions.push_back(&m_BytePool[value]);
}

bool AsmProgram::emitBytes(const uint8_t *bytes, uint32_t length) {
    return append({INSN_BYTES, 0, 0, 0, bytes, length, nullptr});
}

bool AsmProgram::emitRel32(Label *label) {
    return append({INSN_REL32, 0, 0, 0, nullptr, 0, label});
}

bool AsmProgram::emitAbs32(Label *label) {
    return append({INSN_ABS32, 0, 0, 0, nullptr, 0, label});
}

bool AsmProgram::emitRel32Arm(uint16_t opcode, Label *label, const uint8_t *bytes,
                              uint16_t length) {
    return append({INSN_REL32_ARM, 0, opcode, 0, bytes, length, label});
}

bool AsmProgram::emitPeRelocs() {
    return append({INSN_PE_RELOCS, 0, 0, 0, nullptr, 0, nullptr});
}

bool AsmProgram::emitElfRelocs() {
    return append({INSN_ELF_RELOCS, 0, 0, 0, nullptr, 0, nullptr});
}

bool AsmProgram::emitElfArmRelocs() {
    return append({INSN_ELF_ARM_RELOCS, 0, 0, 0, nullptr, 0, nullptr});
}

Label *AsmProgram::findOrMake(LabelMap *map, uint32_t rva) {
    auto found = map->find(rva);
    if (found != map->end()) {
        ++found->second->count;
        return found->second;
    }
    if (!m_AllLabels.reserveOneMore()) {
        return nullptr;
    }
    auto *label = new (std::nothrow) Label;
    if (label == nullptr) {
        return nullptr;
    }
    m_AllLabels.push_back(label);
    label->rva = rva;
    label->count = 1;
    try {
        map->emplace(rva, label);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    return label;
}

Label *AsmProgram::findOrMakeAbs32Label(uint32_t rva) {
    return findOrMake(&m_Abs32, rva);
}

Label *AsmProgram::findOrMakeRel32Label(uint32_t rva) {
    return findOrMake(&m_Rel32, rva);
}

namespace {
void AssignIndexes(const AsmProgram::LabelMap &map) {
    int32_t next = 0;
    for (const auto &entry : map) {
        if (entry.second->index != -1) {
            difflog::LogStream(difflog::LogLevel_ERROR) << "REACHED UNREACHABLE";
        }
        entry.second->index = next++;
    }
}
}  // namespace

void AsmProgram::defaultAssignIndexes() {
    AssignIndexes(m_Abs32);
    AssignIndexes(m_Rel32);
}

Status AsmProgram::trimLabels() {
    if (m_Kind != EXE_ELF_32_ARM) {
        return C_OK;
    }
    difflog::LogStream(difflog::LogLevel_DEBUG) << "TrimLabels: threshold " << kTrimThreshold;
    for (auto it = m_Rel32.begin(); it != m_Rel32.end();) {
        it = it->second->count <= kTrimThreshold ? m_Rel32.erase(it) : std::next(it);
    }
    for (const Instruction *&insn : m_Instructions) {
        if (insn->kind != INSN_REL32_ARM || insn->label->count > kTrimThreshold) {
            continue;
        }
        if (insn->length == 0) {
            return C_TRIM_FAILED;
        }
        // The replaced instruction stays in its block until the program goes.
        const Instruction *bytes = store({INSN_BYTES, 0, 0, 0, insn->bytes, insn->length, nullptr});
        if (bytes == nullptr) {
            return C_TRIM_FAILED;
        }
        insn = bytes;
    }
    return C_OK;
}

}  // namespace vxdelta
