// Encoded program read and assembly over arbitrary serialised stream sets.
// A program that reads must serialise back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "encoded_program.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vxdelta::ReadStreamSet set;
    if (!set.init(data, size)) {
        return 0;
    }
    vxdelta::EncodedProgram program;
    if (vxdelta::ReadEncodedProgram(&set, &program) != vxdelta::C_OK) {
        return 0;
    }
    vxdelta::WriteStream assembled;
    vxdelta::AssembleProgram(program, &assembled);
    return 0;
}
