// The disassembled form of one executable image: an ordered instruction list
// (literal bytes, origins, label references, relocation-table markers) and
// two label maps, for absolute and for relative references.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include "exe_type.h"
#include "pod_vector.h"
#include "vxdelta.h"

namespace vxdelta {

// An address the code refers to.
struct Label {
    uint32_t rva = 0;
    int32_t index = -1;  // -1 until an index is assigned
    int32_t count = 0;   // references made through find-or-make
};

enum InstructionKind : uint8_t {
    INSN_ORIGIN,
    INSN_BYTE,
    INSN_BYTES,
    INSN_REL32,
    INSN_ABS32,
    INSN_REL32_ARM,
    INSN_PE_RELOCS,
    INSN_ELF_RELOCS,
    INSN_ELF_ARM_RELOCS,
};

struct Instruction {
    InstructionKind kind;
    uint8_t byte;          // INSN_BYTE
    uint16_t armOpcode;    // INSN_REL32_ARM: packed opcode
    uint32_t rva;          // INSN_ORIGIN
    const uint8_t *bytes;  // INSN_BYTES, INSN_REL32_ARM: bytes in the source image
    uint32_t length;       // their length (16-bit for INSN_REL32_ARM)
    Label *label;          // INSN_REL32, INSN_ABS32, INSN_REL32_ARM
};

// Labels trimmed at or below this count are dropped from the rel32 map.
constexpr int32_t kTrimThreshold = 5;

class AsmProgram {
public:
    explicit AsmProgram(ExeType kind) : m_Kind(kind) {}
    ~AsmProgram();
    AsmProgram(const AsmProgram &) = delete;
    AsmProgram &operator=(const AsmProgram &) = delete;

    ExeType kind() const { return m_Kind; }
    uint64_t imageBase() const { return m_ImageBase; }
    void setImageBase(uint64_t base) { m_ImageBase = base; }

    // Each emit appends one instruction; false on allocation failure. Byte
    // sources (bytes, ARM original bytes) must outlive the program.
    bool emitOrigin(uint32_t rva);
    bool emitByte(uint8_t value);
    bool emitBytes(const uint8_t *bytes, uint32_t length);
    bool emitRel32(Label *label);
    bool emitAbs32(Label *label);
    bool emitRel32Arm(uint16_t opcode, Label *label, const uint8_t *bytes, uint16_t length);
    bool emitPeRelocs();
    bool emitElfRelocs();
    bool emitElfArmRelocs();

    // The label for rva (created with index -1 if new), its count incremented;
    // nullptr on allocation failure.
    Label *findOrMakeAbs32Label(uint32_t rva);
    Label *findOrMakeRel32Label(uint32_t rva);

    // Numbers each map's labels 0, 1, 2, ... in ascending rva order.
    void defaultAssignIndexes();

    // For ELF_32_ARM only: drops rarely used rel32 labels and turns their
    // ARM branches back into literal bytes. C_OK or C_TRIM_FAILED.
    Status trimLabels();

    using LabelMap = std::map<uint32_t, Label *>;
    const LabelMap &abs32Labels() const { return m_Abs32; }
    const LabelMap &rel32Labels() const { return m_Rel32; }
    const PodVector<const Instruction *> &instructions() const { return m_Instructions; }

private:
    bool append(const Instruction &instruction);
    // A copy of instruction in the current block (a new block when it is
    // full), or nullptr when out of memory.
    Instruction *store(const Instruction &instruction);
    Label *findOrMake(LabelMap *map, uint32_t rva);

    ExeType m_Kind;
    uint64_t m_ImageBase = 0;
    PodVector<const Instruction *> m_Instructions;
    // The shared one-byte instructions, created on first use.
    std::unique_ptr<Instruction[]> m_BytePool;
    // Every other instruction lives in blocks of kInstructionBlock, freed
    // with the program (one allocation per instruction cost more time than
    // the disassembly itself).
    static constexpr size_t kInstructionBlock = 4096;
    PodVector<Instruction *> m_Blocks;
    size_t m_BlockUsed = kInstructionBlock;
    LabelMap m_Abs32;
    LabelMap m_Rel32;
    // Owns every label, also those trimmed out of a map.
    PodVector<Label *> m_AllLabels;
};

}  // namespace vxdelta
