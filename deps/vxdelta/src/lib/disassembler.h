// The engine's disassembler entry point: recognises an executable image and
// turns it into an AsmProgram with default label indexes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "asm_program.h"
#include "vxdelta.h"

namespace vxdelta {

// Disassembles [data, data + size). C_OK with *program set;
// C_INPUT_NOT_RECOGNIZED when no disassembler accepts the bytes;
// C_DISASSEMBLY_FAILED when one accepts them but cannot parse them. The
// program refers into data, which must outlive it.
Status DisassembleExecutable(const uint8_t *data, size_t size,
                             std::unique_ptr<AsmProgram> *program);

}  // namespace vxdelta
