#include "exe_type.h"

namespace vxdelta {

const char *ExeTypeName(int type) {
    static const char *const names[] = {"UNKNOWN",    "WIN_32_X86", "EXE_ELF_32_X86", "ELF_32_ARM",
                                        "WIN_32_X64", "ELF_64_X64", "MACHO_X86",      "MACHO_X64"};
    if (type < 0 || type > kLastExeType) {
        return names[0];
    }
    return names[type];
}

}  // namespace vxdelta
