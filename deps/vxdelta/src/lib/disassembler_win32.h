// Shared base of the PE disassemblers (PE32 and PE32+). The two classes
// differ only in which optional-header form they accept; the form also
// selects the x86-64 operand patterns and the base relocation entry type.
#pragma once

#include "disassembler.h"
#include "pod_vector.h"

namespace vxdelta {

class DisassemblerWin32 : public Disassembler {
public:
    bool parseHeader() override;
    bool disassemble(AsmProgram *program) override;

    // Valid after a successful header parse.
    bool is64Bit() const { return m_Is64Bit; }
    uint64_t imageBase() const { return m_ImageBase; }
    uint32_t sizeOfImage() const { return m_SizeOfImage; }
    bool hasTextSection() const { return m_HasTextSection; }

    // Valid after disassemble(): sorted rvas of the absolute references
    // named by the base relocation table and of the relative operands.
    const PodVector<uint32_t> &abs32Locations() const { return m_Abs32Locations; }
    const PodVector<uint32_t> &rel32Locations() const { return m_Rel32Locations; }

    // rva -> file offset through the section whose virtual range holds rva;
    // false when the rva has no bytes in the file.
    bool rvaToFileOffset(uint32_t rva, size_t *offset) const;
    // file offset -> rva through the section whose raw data holds it; 0
    // when none does.
    uint32_t fileOffsetToRva(size_t offset) const;

protected:
    // wants64Bit: the optional-header form this class accepts.
    DisassemblerWin32(const uint8_t *start, size_t length, bool wants64Bit);

private:
    struct Section {
        uint32_t virtualSize;
        uint32_t virtualAddress;
        uint32_t rawSize;
        uint32_t rawPointer;
        bool isText;
    };
    struct DataDirectory {
        uint32_t address;
        uint32_t size;
    };

    bool parseOptionalHeader(size_t optionalHeader);
    bool parseDataDirectories();
    bool readDataDirectory(uint32_t index, DataDirectory *directory);
    bool parseSectionTable(size_t table, uint32_t count);

    bool collectAbs32Locations();
    bool collectRelocationBlock(size_t block, size_t size);
    bool collectRel32Locations();
    void scanTextSection(const Section &section);
    bool sortSectionsByFileOffset();
    bool emitImage(AsmProgram *program);
    bool emitSection(const Section &section, AsmProgram *program);

    const bool m_Wants64Bit;
    bool m_Is64Bit = false;
    uint32_t m_OptionalHeaderSize = 0;
    uint32_t m_DataDirectoryOffset = 0;  // within the optional header
    size_t m_OptionalHeader = 0;         // file offset
    uint64_t m_ImageBase = 0;
    uint32_t m_SizeOfImage = 0;
    uint32_t m_NumberOfDataDirectories = 0;
    bool m_HasTextSection = false;
    DataDirectory m_BaseRelocationTable = {0, 0};
    // The assembler regenerates one table: set once its marker is emitted.
    bool m_RelocationTableEmitted = false;
    PodVector<Section> m_Sections;
    PodVector<const Section *> m_FileOrder;  // by pointer to raw data
    PodVector<uint32_t> m_Abs32Locations;
    PodVector<uint32_t> m_Rel32Locations;
};

}  // namespace vxdelta
