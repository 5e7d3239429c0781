// The column form of a disassembled image: operation codes plus separate
// arrays for their operands and the two label address tables. This is what
// is serialised, compressed or patched, read back and assembled into bytes.
#pragma once

#include <cstdint>

#include "asm_program.h"
#include "pod_vector.h"
#include "streams.h"
#include "vxdelta.h"

namespace vxdelta {

// Operation codes (part of the serialised format).
enum : uint32_t {
    OP_ORIGIN = 0,
    OP_COPY = 1,
    OP_COPY1 = 2,
    OP_REL32 = 3,
    OP_ABS32 = 4,
    OP_PE_RELOC_TABLE = 5,
    OP_ELF_RELOC_TABLE = 6,
    OP_ELF_ARM_RELOC_TABLE = 7,
    OP_PE64_RELOC_TABLE = 8,
    OP_THUMB_B8 = 0x1000,
    OP_THUMB_B11 = 0x2000,
    OP_ARM_B24 = 0x3000,
    OP_THUMB2_BL25 = 0x4000,
    OP_THUMB2_B21 = 0x5000,
};

struct EncodedProgram {
    uint64_t imageBase = 0;  // only the low 32 bits are serialised and used
    PodVector<uint32_t> abs32Rvas;
    PodVector<uint32_t> rel32Rvas;
    PodVector<uint32_t> ops;
    PodVector<uint32_t> origins;
    PodVector<uint32_t> copyCounts;
    PodVector<uint8_t> copyBytes;
    PodVector<uint32_t> abs32Ix;
    PodVector<uint32_t> rel32Ix;
};

// Builds the column form of program (whose labels carry their indexes).
// C_OK, or C_GENERAL_ERROR on allocation failure or a label without index.
Status EncodeProgram(const AsmProgram &program, EncodedProgram *encoded);

// Writes program into the ten streams of set. C_OK or C_STREAM_ERROR.
Status WriteEncodedProgram(const EncodedProgram &program, StreamSet *set);

// Reads a program from a set of at least nine streams, each of streams 0 to
// 8 consumed exactly. C_OK or C_DESERIALIZATION_FAILED.
Status ReadEncodedProgram(ReadStreamSet *set, EncodedProgram *program);

// Appends the image bytes the program describes to out, relocation tables
// included. C_OK or C_ASSEMBLY_FAILED (out then holds a partial result).
Status AssembleProgram(const EncodedProgram &program, WriteStream *out);

// Logs the element counts of every field at level DEBUG.
void LogEncodedProgramSummary(const EncodedProgram &program);

}  // namespace vxdelta
