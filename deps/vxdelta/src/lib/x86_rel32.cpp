#include "x86_rel32.h"

namespace vxdelta {

namespace {

bool IsConditionalJump(uint8_t second) {
    // The parity jumps are left out: they are rare in compiled code and most
    // often data that merely looks like an opcode.
    return (second & 0xF0) == 0x80 && second != 0x8A && second != 0x8B;
}

bool IsRipRelativeLoad(const uint8_t *p) {
    return (p[0] == 0x48 || p[0] == 0x49) && (p[1] == 0x8D || p[1] == 0x8B) &&
           (p[2] & 0xC7) == 0x05;
}

bool Found(size_t operandOffset, bool ripRelative, X86Rel32Candidate *candidate) {
    candidate->operandOffset = operandOffset;
    candidate->ripRelative = ripRelative;
    return true;
}

}  // namespace

bool FindX86Rel32Candidate(const uint8_t *p, size_t remaining, bool x64,
                           X86Rel32Candidate *candidate) {
    if (remaining >= 5 && (p[0] == 0xE8 || p[0] == 0xE9)) {
        return Found(1, false, candidate);
    }
    if (remaining >= 6) {
        if (x64 && p[0] == 0xFF && (p[1] == 0x15 || p[1] == 0x25)) {
            return Found(2, true, candidate);
        }
        if (p[0] == 0x0F && IsConditionalJump(p[1])) {
            return Found(2, false, candidate);
        }
    }
    if (x64 && remaining >= 7 && IsRipRelativeLoad(p)) {
        return Found(3, true, candidate);
    }
    return false;
}

}  // namespace vxdelta
