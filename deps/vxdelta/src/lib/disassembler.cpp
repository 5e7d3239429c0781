#include "disassembler.h"

namespace vxdelta {

// No executable format is registered yet: every input is unrecognised, and
// callers take their non-executable path.
Status DisassembleExecutable(const uint8_t *data, size_t size,
                             std::unique_ptr<AsmProgram> *program) {
    (void)data;
    (void)size;
    program->reset();
    return C_INPUT_NOT_RECOGNIZED;
}

}  // namespace vxdelta
