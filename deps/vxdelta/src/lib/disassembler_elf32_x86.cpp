#include "disassembler_elf32_x86.h"

namespace vxdelta {

namespace {
constexpr uint32_t kRelative = 8;  // R_386_RELATIVE
constexpr size_t kEntrySize = 8;
}  // namespace

bool DisassemblerElf32X86::rvaFromRelocation(const uint8_t *entry, Addr *rva) const {
    return relativeRelocationRva(entry, kRelative, rva);
}

bool DisassemblerElf32X86::parseRelocationSection(const Section &section, AsmProgram *program) {
    const uint8_t *data = start() + section.offset;
    const PodVector<Addr> &abs32 = abs32Locations();
    const size_t entries = section.size / kEntrySize;
    size_t skipped = 0;
    if (!abs32.empty() && entries >= abs32.size() && !relocationTableClaimed()) {
        size_t matching = 0;
        while (matching < abs32.size() &&
               relocationIs(data + matching * kEntrySize, kRelative, abs32[matching])) {
            ++matching;
        }
        if (matching == abs32.size()) {
            claimRelocationTable();
            if (!program->emitElfRelocs()) {
                return bad("out of memory");
            }
            skipped = matching * kEntrySize;
        }
    }
    return emitFileBytes(section.offset + skipped, section.offset + section.size, program);
}

}  // namespace vxdelta
