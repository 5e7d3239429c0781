// The executable kinds known to the encoded programs and the disassemblers.
// The numeric values are part of the file formats.
#pragma once

namespace vxdelta {

enum ExeType : int {
    EXE_UNKNOWN = 0,
    EXE_WIN_32_X86 = 1,
    EXE_ELF_32_X86 = 2,
    EXE_ELF_32_ARM = 3,
    EXE_WIN_32_X64 = 4,
    EXE_ELF_64_X64 = 5,
    EXE_MACHO_X86 = 6,
    EXE_MACHO_X64 = 7,
};

constexpr int kLastExeType = EXE_MACHO_X64;

// "UNKNOWN", "WIN_32_X86", "EXE_ELF_32_X86", ...; "UNKNOWN" for other values.
const char *ExeTypeName(int type);

}  // namespace vxdelta
