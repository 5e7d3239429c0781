// Shared ELF disassembler, written once for both ELF classes: the layout
// parameter supplies the field widths and positions of ELF32 or ELF64.
// DisassemblerElf32 and DisassemblerElf64 (their own headers) are its two
// instantiations; the machine-specific classes derive from those.
#pragma once

#include <memory>
#include <vector>

#include "disassembler.h"
#include "pod_vector.h"

namespace vxdelta {

// Section types the disassembly tells apart.
enum ElfSectionType : uint32_t {
    ELF_SECTION_PROGBITS = 1,
    ELF_SECTION_NOBITS = 8,
    ELF_SECTION_REL = 9,
    ELF_SECTION_INIT_ARRAY = 14,
    ELF_SECTION_FINI_ARRAY = 15,
};
constexpr uint32_t kElfSegmentLoad = 1;

// The fields of a section header and of a program header the disassembly
// uses, in the class's address width.
template <typename Addr>
struct ElfSection {
    uint32_t type;
    Addr address;
    Addr offset;
    Addr size;
    Addr entrySize;
};

template <typename Addr>
struct ElfSegment {
    uint32_t type;
    Addr offset;
    Addr address;
    Addr fileSize;
    Addr memorySize;
};

// The fixed sizes, field positions and reads of the two ELF classes.
struct Elf32Layout {
    using Addr = uint32_t;
    static constexpr size_t kHeaderSize = 52;
    static constexpr size_t kSectionHeaderSize = 40;
    static constexpr size_t kProgramHeaderSize = 32;
    static constexpr size_t kRelocationSize = 8;
    static constexpr size_t kProgramTableField = 28;
    static constexpr size_t kSectionTableField = 32;
    static constexpr size_t kProgramCountField = 44;
    static constexpr size_t kSectionEntrySizeField = 46;
    static constexpr size_t kSectionCountField = 48;
    static Addr readAddr(const uint8_t *p);
    static void readSection(const uint8_t *p, ElfSection<Addr> *section);
    static void readSegment(const uint8_t *p, ElfSegment<Addr> *segment);
};

struct Elf64Layout {
    using Addr = uint64_t;
    static constexpr size_t kHeaderSize = 64;
    static constexpr size_t kSectionHeaderSize = 64;
    static constexpr size_t kProgramHeaderSize = 56;
    static constexpr size_t kRelocationSize = 16;
    static constexpr size_t kProgramTableField = 32;
    static constexpr size_t kSectionTableField = 40;
    static constexpr size_t kProgramCountField = 56;
    static constexpr size_t kSectionEntrySizeField = 58;
    static constexpr size_t kSectionCountField = 60;
    static Addr readAddr(const uint8_t *p);
    static void readSection(const uint8_t *p, ElfSection<Addr> *section);
    static void readSegment(const uint8_t *p, ElfSegment<Addr> *segment);
};

template <typename Layout>
class DisassemblerElf : public Disassembler {
public:
    using Addr = typename Layout::Addr;

    using Section = ElfSection<Addr>;
    using Segment = ElfSegment<Addr>;

    // A relative reference found in a code section: the instruction (or
    // operand) at rva reaches rva + relativeTarget().
    class TypedRVA {
    public:
        explicit TypedRVA(Addr rva) : m_Rva(rva) {}
        virtual ~TypedRVA() = default;
        TypedRVA(const TypedRVA &) = delete;
        TypedRVA &operator=(const TypedRVA &) = delete;

        // Derives the relative target from the bytes at rva; false when they
        // are not a reference of this type.
        virtual bool computeRelativeTarget(const uint8_t *bytes) = 0;
        // Appends the reference to target; bytes are the original ones at
        // fileOffset(). False on allocation failure.
        virtual bool emitInstruction(AsmProgram *program, Addr target, const uint8_t *bytes) = 0;
        // Bytes the emitted instruction replaces.
        virtual uint16_t operandSize() const = 0;

        Addr rva() const { return m_Rva; }
        Addr relativeTarget() const { return m_RelativeTarget; }
        size_t fileOffset() const { return m_FileOffset; }
        void setFileOffset(size_t offset) { m_FileOffset = offset; }

    protected:
        void setRelativeTarget(Addr target) { m_RelativeTarget = target; }

    private:
        Addr m_Rva;
        Addr m_RelativeTarget = 0;
        size_t m_FileOffset = 0;
    };

    // A 4-byte x86 / x86-64 relative operand (call, jmp, jcc, RIP+disp32).
    class TypedRVARel32 : public TypedRVA {
    public:
        using TypedRVA::TypedRVA;
        bool computeRelativeTarget(const uint8_t *bytes) override;
        bool emitInstruction(AsmProgram *program, Addr target, const uint8_t *bytes) override;
        uint16_t operandSize() const override { return 4; }
    };

    bool parseHeader() override;
    bool disassemble(AsmProgram *program) override;

    // Valid after a successful header parse.
    const PodVector<Section> &sections() const { return m_Sections; }
    const PodVector<Segment> &segments() const { return m_Segments; }
    // Valid after disassemble(): the sorted abs32 rvas and the references.
    const PodVector<Addr> &abs32Locations() const { return m_Abs32Locations; }
    const std::vector<std::unique_ptr<TypedRVA>> &rel32Locations() const { return m_Rel32; }

    // rva -> file offset through the first program header whose file
    // bytes hold it.
    bool rvaToFileOffset(Addr rva, size_t *offset) const;
    // True when rva lies in the memory of a loadable segment.
    bool isValidTargetRva(Addr rva) const;

protected:
    DisassemblerElf(const uint8_t *start, size_t length) : Disassembler(start, length) {}

    virtual uint16_t elfMachine() const = 0;
    // The rva an entry of a REL section names, when the class takes the
    // entry as an absolute reference.
    virtual bool rvaFromRelocation(const uint8_t *entry, Addr *rva) const = 0;
    // Emits a REL section (already checked to lie inside the image).
    virtual bool parseRelocationSection(const Section &section, AsmProgram *program) = 0;
    // Adds the references found in a PROGBITS section (inside the image).
    virtual bool parseRel32RelocsFromSection(const Section &section) = 0;

    // The section's file bytes, or nullptr when they are not all inside
    // the image (the message is then recorded).
    const uint8_t *sectionData(const Section &section);
    // Scans a section for x86 (x64: also x86-64) relative operands.
    bool findX86Rel32InSection(const Section &section, bool x64);
    bool addReference(std::unique_ptr<TypedRVA> reference);
    // Emits file bytes [from, to) as literal copies.
    bool emitFileBytes(size_t from, size_t to, AsmProgram *program);
    // The assembler regenerates one relocation table per program: once a
    // REL section took its place, later sections stay bytes.
    bool relocationTableClaimed() const { return m_RelocationTableClaimed; }
    void claimRelocationTable() { m_RelocationTableClaimed = true; }

private:
    bool readTables();
    void reduceToContents();
    bool collectAbs32Locations();
    bool isInRelocatableSection(Addr rva) const;
    bool collectRel32Locations();
    bool translateLocations();
    bool emitFile(AsmProgram *program);
    bool emitSection(const Section &section, size_t *position, AsmProgram *program);
    bool emitProgbits(const Section &section, AsmProgram *program);
    bool emitNextAbs32(size_t end, AsmProgram *program);
    void skipAbs32In(const Section &section, bool consume);

    Addr m_SectionTableOffset = 0;
    uint32_t m_SectionCount = 0;
    Addr m_ProgramTableOffset = 0;
    uint32_t m_ProgramCount = 0;
    PodVector<Section> m_Sections;
    PodVector<Segment> m_Segments;
    PodVector<Addr> m_Abs32Locations;
    PodVector<size_t> m_Abs32Offsets;
    size_t m_NextAbs32 = 0;
    size_t m_NextRel32 = 0;
    bool m_RelocationTableClaimed = false;
    std::vector<std::unique_ptr<TypedRVA>> m_Rel32;
};

extern template class DisassemblerElf<Elf32Layout>;
extern template class DisassemblerElf<Elf64Layout>;

}  // namespace vxdelta
