// Disassembler for little-endian Intel Mach-O images (32-bit and 64-bit):
// executables, preloaded executables, dynamic libraries and bundles.
//
// The header parse records the segments (with vm addresses made relative to
// the lowest one) and the code sections (sections holding only instructions,
// of the regular type). Disassembly turns every 4-byte relative operand of a
// call, jump, conditional jump or RIP-relative lea/mov whose target lies in a
// recorded segment into an INSN_REL32; everything else is literal bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disassembler.h"
#include "pod_vector.h"

namespace vxdelta {

struct MachoSegmentLayout;

class DisassemblerMacho : public Disassembler {
public:
    struct Segment {
        uint64_t vmAddress;  // relative to the lowest segment after the parse
        uint32_t vmSize;
        uint32_t fileOffset;
        uint32_t fileSize;
    };
    struct CodeSection {
        uint64_t address;  // relative, like the segments' vm addresses
        uint32_t size;
        uint32_t fileOffset;
    };

    DisassemblerMacho(const uint8_t *start, size_t length);

    // EXE_MACHO_X86 or EXE_MACHO_X64 once the magic is known, else EXE_UNKNOWN.
    ExeType kind() const override { return m_Kind; }
    bool parseHeader() override;
    bool disassemble(AsmProgram *program) override;

    // The file offset of rva through the first segment whose vm range holds
    // it; false when that segment has no file bytes there, and false with a
    // WARNING when no segment holds rva.
    bool rvaToFileOffset(uint32_t rva, size_t *offset) const;
    // The image byte at rva, or nullptr when rvaToFileOffset fails.
    const uint8_t *rvaToPointer(uint32_t rva) const;
    // The rva of a file offset through the first segment whose file range
    // holds it; 0 when none does.
    uint32_t fileOffsetToRva(size_t offset) const;

    // Valid after a successful parseHeader(), in load-command order.
    const PodVector<Segment> &segments() const { return m_Segments; }
    // Valid after a successful parseHeader(), sorted by file offset.
    const PodVector<CodeSection> &codeSections() const { return m_CodeSections; }
    // Valid after disassemble(): the sorted rvas of the relative operands.
    const PodVector<uint32_t> &rel32Locations() const { return m_Rel32Locations; }

private:
    bool parseLoadCommands(size_t headerSize, uint32_t commandCount);
    bool parseSegment64(const uint8_t *command, uint32_t commandSize);
    bool parseSegment32(const uint8_t *command, uint32_t commandSize);
    bool recordSegment(const Segment &segment);
    bool recordCodeSections(const MachoSegmentLayout &layout, const Segment &segment,
                            const uint8_t *command, uint32_t commandSize);
    bool recordCodeSection(const Segment &segment, uint64_t address, uint32_t size,
                           uint32_t fileOffset);
    bool makeAddressesRelative();

    const uint8_t *sectionStart(const CodeSection &section) const;
    bool findRel32InSection(const CodeSection &section);
    bool isInSomeSegment(uint32_t rva) const;
    bool emitSection(const CodeSection &section, AsmProgram *program) const;

    ExeType m_Kind = EXE_UNKNOWN;
    uint32_t m_Extent = 0;
    PodVector<Segment> m_Segments;
    PodVector<CodeSection> m_CodeSections;
    PodVector<uint32_t> m_Rel32Locations;
};

}  // namespace vxdelta
