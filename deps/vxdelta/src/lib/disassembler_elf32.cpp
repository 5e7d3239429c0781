#include "disassembler_elf32.h"

#include "image_bytes.h"

namespace vxdelta {

bool DisassemblerElf32::relativeRelocationRva(const uint8_t *entry, uint32_t relativeType,
                                              Addr *rva) {
    if (ReadLe32(entry + 4) != relativeType) {
        return false;
    }
    *rva = ReadLe32(entry);
    return true;
}

bool DisassemblerElf32::relocationIs(const uint8_t *entry, uint32_t type, Addr rva) {
    return ReadLe32(entry) == rva && (ReadLe32(entry + 4) & 0xFF) == type;
}

}  // namespace vxdelta
