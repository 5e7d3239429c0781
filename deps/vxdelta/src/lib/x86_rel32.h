// Internal: recognition of x86 and x86-64 instructions that carry a 4-byte
// relative operand, shared by the PE and ELF disassemblers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vxdelta {

struct X86Rel32Candidate {
    size_t operandOffset = 0;  // from the instruction's first byte
    bool ripRelative = false;  // an x86-64 RIP-relative memory operand
};

// Tests the instruction starting at p (remaining bytes readable) for
// call/jmp rel32 (E8, E9, needs 5 bytes) and jcc rel32 (0F 80..8F without
// the parity jumps 8A/8B, needs 6 bytes). With x64 also call/jmp through a
// RIP-relative pointer (FF 15, FF 25, needs 6 bytes) and lea/mov with
// RIP+disp32 addressing (48/49 then 8D/8B then a ModRM byte whose mod and
// r/m bits are 00/101, needs 7 bytes). False when none matches.
bool FindX86Rel32Candidate(const uint8_t *p, size_t remaining, bool x64,
                           X86Rel32Candidate *candidate);

}  // namespace vxdelta
