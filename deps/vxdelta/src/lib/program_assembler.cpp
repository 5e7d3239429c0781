// EncodedProgram -> image bytes. Every operand is taken through a checked
// cursor, so a malformed program fails instead of reading past its arrays.
#include <algorithm>

#include "encoded_program.h"

namespace vxdelta {

namespace {

constexpr uint32_t kPeEntryType = 3;
constexpr uint32_t kPe64EntryType = 10;
constexpr uint32_t kElfRelocType = 8;
constexpr uint32_t kElfArmRelocType = 23;

template <typename T>
class Cursor {
public:
    explicit Cursor(const PodVector<T> &values) : m_Values(values) {}
    bool next(T *value) {
        if (m_Next >= m_Values.size()) {
            return false;
        }
        *value = m_Values[m_Next++];
        return true;
    }
    // The next n values, or nullptr if fewer remain.
    const T *take(size_t n) {
        if (n > m_Values.size() - m_Next) {
            return nullptr;
        }
        const T *first = m_Values.data() + m_Next;
        m_Next += n;
        return first;
    }
    bool done() const { return m_Next == m_Values.size(); }

private:
    const PodVector<T> &m_Values;
    size_t m_Next = 0;
};

bool Write16(WriteStream *out, uint32_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    return out->write(bytes, 2);
}

bool Write32(WriteStream *out, uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return out->write(bytes, 4);
}

// The generator's order: all positions sorted except the last one collected.
void SortRelocations(PodVector<uint32_t> *positions) {
    if (positions->size() > 1) {
        std::sort(positions->begin(), positions->end() - 1);
    }
}

bool WritePeRelocationTable(const PodVector<uint32_t> &positions, uint32_t type, WriteStream *out) {
    size_t i = 0;
    while (i < positions.size()) {
        const uint32_t page = positions[i] & ~0xFFFu;
        size_t end = i;
        while (end < positions.size() && (positions[end] & ~0xFFFu) == page) {
            ++end;
        }
        const size_t entries = end - i;
        const size_t padded = entries + (entries & 1);
        if (!Write32(out, page) || !Write32(out, static_cast<uint32_t>(8 + 2 * padded))) {
            return false;
        }
        for (; i < end; ++i) {
            if (!Write16(out, (type << 12) | (positions[i] & 0xFFF))) {
                return false;
            }
        }
        if (padded != entries && !Write16(out, 0)) {
            return false;
        }
    }
    return true;
}

bool WriteElfRelocationTable(const PodVector<uint32_t> &positions, uint32_t type,
                             WriteStream *out) {
    for (uint32_t position : positions) {
        if (!Write32(out, position) || !Write32(out, type)) {
            return false;
        }
    }
    return true;
}

uint32_t Thumb2Bl25(uint32_t op, uint32_t c, uint32_t d) {
    const uint32_t e = d - ((op >> 8) & 0xF);
    return ((c >> 3) << 27) | (((c >> 1) & 3) << 14) | ((c & 1) << 12) | ((e >> 1) & 0x7FF) |
           ((e << 4) & 0x3FF0000) | ((e << 2) & 0x4000000) |
           ((~((e >> 22) ^ (e >> 24)) & 1) << 11) | ((~((e >> 23) ^ (e >> 24)) & 1) << 13);
}

uint32_t Thumb2B21(uint32_t c, uint32_t d) {
    const uint32_t f = d - 4;
    return 0xF0008000u | ((f << 6) & 0x4000000) | ((c & 0xF) << 22) | ((f >> 7) & 0x800) |
           ((f >> 6) & 0x2000) | ((f >> 1) & 0x7FF) | ((f << 4) & 0x3F0000);
}

uint32_t SwapHalves(uint32_t value) {
    return (value << 16) | (value >> 16);
}

// Writes the ARM or Thumb branch of op reaching d bytes ahead; its size in
// *size. False for an op that is not an ARM form.
bool WriteArmBranch(uint32_t op, uint32_t d, WriteStream *out, uint32_t *size) {
    const uint32_t c = op & 0xFFF;
    switch ((op >> 12) & 0xF) {
        case 1:
            *size = 2;
            return Write16(out, (c << 8) | (((d - 4) >> 1) & 0xFF));
        case 2:
            *size = 2;
            return Write16(out, (c << 11) | (((d - 4) >> 1) & 0x7FF));
        case 3:
            *size = 4;
            return Write32(out, (c << 24) | (((d - 8) >> 2) & 0xFFFFFF));
        case 4:
            *size = 4;
            return Write32(out, SwapHalves(Thumb2Bl25(op, c, d)));
        case 5:
            *size = 4;
            return Write32(out, SwapHalves(Thumb2B21(c, d)));
        default:
            return false;
    }
}

class Assembler {
public:
    Assembler(const EncodedProgram &program, WriteStream *out)
        : m_Program(program),
          m_Out(out),
          m_Target(out),
          m_Origins(program.origins),
          m_CopyCounts(program.copyCounts),
          m_CopyBytes(program.copyBytes),
          m_Abs32Ix(program.abs32Ix),
          m_Rel32Ix(program.rel32Ix) {}

    bool run() {
        for (uint32_t op : m_Program.ops) {
            if (!step(op)) {
                return false;
            }
        }
        return finishTables() && m_CopyCounts.done() && m_CopyBytes.done() && m_Abs32Ix.done() &&
               m_Rel32Ix.done();
    }

private:
    bool step(uint32_t op) {
        switch (op) {
            case OP_ORIGIN:
                return m_Origins.next(&m_Rva);
            case OP_COPY:
                return copy();
            case OP_COPY1:
                return copyBytes(1);
            case OP_REL32:
                return rel32();
            case OP_ABS32:
                return abs32();
            case OP_PE_RELOC_TABLE:
            case OP_PE64_RELOC_TABLE:
                return startTable(&m_PeType,
                                  op == OP_PE_RELOC_TABLE ? kPeEntryType : kPe64EntryType);
            case OP_ELF_RELOC_TABLE:
            case OP_ELF_ARM_RELOC_TABLE:
                return startTable(&m_ElfType,
                                  op == OP_ELF_RELOC_TABLE ? kElfRelocType : kElfArmRelocType);
            default:
                return armBranch(op);
        }
    }

    bool copy() {
        uint32_t n = 0;
        return m_CopyCounts.next(&n) && copyBytes(n);
    }

    bool copyBytes(uint32_t n) {
        const uint8_t *bytes = m_CopyBytes.take(n);
        if (bytes == nullptr || !m_Target->write(bytes, n)) {
            return false;
        }
        m_Rva += n;
        return true;
    }

    bool labelRva(Cursor<uint32_t> *indexes, const PodVector<uint32_t> &rvas, uint32_t *rva) {
        uint32_t index = 0;
        if (!indexes->next(&index) || index >= rvas.size()) {
            return false;
        }
        *rva = rvas[index];
        return true;
    }

    bool rel32() {
        uint32_t target = 0;
        if (!labelRva(&m_Rel32Ix, m_Program.rel32Rvas, &target) ||
            !Write32(m_Target, target - (m_Rva + 4))) {
            return false;
        }
        m_Rva += 4;
        return true;
    }

    bool abs32() {
        uint32_t target = 0;
        if (!labelRva(&m_Abs32Ix, m_Program.abs32Rvas, &target) ||
            !Write32(m_Target, target + static_cast<uint32_t>(m_Program.imageBase)) ||
            !m_Relocations.push_back(m_Rva)) {
            return false;
        }
        m_Rva += 4;
        return true;
    }

    bool armBranch(uint32_t op) {
        uint32_t target = 0;
        uint32_t size = 0;
        const uint32_t form = (op >> 12) & 0xF;
        if (form < 1 || form > 5 || !labelRva(&m_Rel32Ix, m_Program.rel32Rvas, &target) ||
            !WriteArmBranch(op, target - m_Rva, m_Target, &size)) {
            return false;
        }
        m_Rva += size;
        return true;
    }

    // From a table marker on, output goes to the tail; the table itself is
    // written in front of the tail at the end.
    bool startTable(uint32_t *pendingType, uint32_t type) {
        if (*pendingType != 0) {
            return false;
        }
        *pendingType = type;
        m_Target = &m_Tail;
        return true;
    }

    bool finishTables() {
        if (m_PeType == 0 && m_ElfType == 0) {
            return true;
        }
        SortRelocations(&m_Relocations);
        if (m_PeType != 0 &&
            (!WritePeRelocationTable(m_Relocations, m_PeType, m_Out) || !m_Out->append(&m_Tail))) {
            return false;
        }
        return m_ElfType == 0 ||
               (WriteElfRelocationTable(m_Relocations, m_ElfType, m_Out) && m_Out->append(&m_Tail));
    }

    const EncodedProgram &m_Program;
    WriteStream *m_Out;
    WriteStream *m_Target;
    WriteStream m_Tail;
    uint32_t m_Rva = 0;
    uint32_t m_PeType = 0;
    uint32_t m_ElfType = 0;
    PodVector<uint32_t> m_Relocations;
    Cursor<uint32_t> m_Origins;
    Cursor<uint32_t> m_CopyCounts;
    Cursor<uint8_t> m_CopyBytes;
    Cursor<uint32_t> m_Abs32Ix;
    Cursor<uint32_t> m_Rel32Ix;
};

}  // namespace

Status AssembleProgram(const EncodedProgram &program, WriteStream *out) {
    Assembler assembler(program, out);
    return assembler.run() ? C_OK : C_ASSEMBLY_FAILED;
}

}  // namespace vxdelta
