// Executable detection and disassembly over arbitrary bytes, then the
// encoder and the assembler on what was disassembled: whatever the bytes,
// no class may read outside them, and an accepted image must assemble. A
// Mach-O image assembles back to the leading bytes of the input exactly
// (its programs hold no regenerated tables).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "asm_program.h"
#include "disassembler.h"
#include "encoded_program.h"
#include "streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vxdelta::ExeType kind = vxdelta::EXE_UNKNOWN;
    size_t detectedLength = 0;
    const vxdelta::Status detected = vxdelta::DetectExeType(data, size, &kind, &detectedLength);
    if (detected == vxdelta::C_OK && detectedLength > size) {
        std::abort();
    }
    std::unique_ptr<vxdelta::AsmProgram> program;
    if (vxdelta::DisassembleExecutable(data, size, &program) != vxdelta::C_OK) {
        return 0;
    }
    if (detected != vxdelta::C_OK || program->kind() != kind) {
        std::abort();
    }
    vxdelta::EncodedProgram encoded;
    if (program->trimLabels() != vxdelta::C_OK ||
        vxdelta::EncodeProgram(*program, &encoded) != vxdelta::C_OK) {
        return 0;
    }
    vxdelta::WriteStream assembled;
    if (vxdelta::AssembleProgram(encoded, &assembled) != vxdelta::C_OK) {
        std::abort();
    }
    const bool macho = kind == vxdelta::EXE_MACHO_X86 || kind == vxdelta::EXE_MACHO_X64;
    if (macho && (assembled.length() > size ||
                  (assembled.length() != 0 &&
                   std::memcmp(assembled.data(), data, assembled.length()) != 0))) {
        std::abort();
    }
    return 0;
}
