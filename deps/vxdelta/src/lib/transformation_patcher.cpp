#include "transformation_patcher.h"

#include <memory>

#include "asm_program.h"
#include "disassembler.h"
#include "encoded_program.h"

namespace vxdelta {

TransformationPatcher::~TransformationPatcher() = default;

PatcherX86_32::PatcherX86_32(const uint8_t *oldStart, size_t oldLength)
    : m_OldStart(oldStart), m_OldLength(oldLength) {}

Status PatcherX86_32::readParameters(ReadStream *stream) {
    uint32_t offset = 0;
    uint32_t length = 0;
    if (!stream->readVarint(&offset) || !stream->readVarint(&length) || offset > m_OldLength ||
        length > m_OldLength - offset) {
        return C_BAD_BASE;
    }
    setBase(offset, length);
    return C_OK;
}

Status PatcherX86_32::predictParameters(StreamSet * /*parameters*/) {
    return C_OK;
}

Status PatcherX86_32::transformElement(ReadStreamSet *parameters, StreamSet *output) {
    if (!parameters->consumed()) {
        return C_GENERAL_ERROR;
    }
    std::unique_ptr<AsmProgram> program;
    Status status = DisassembleExecutable(m_OldStart + m_BaseOffset, m_BaseLength, &program);
    if (status != C_OK) {
        return status;
    }
    status = program->trimLabels();
    if (status != C_OK) {
        return status;
    }
    EncodedProgram encoded;
    if (EncodeProgram(*program, &encoded) != C_OK) {
        return C_GENERAL_ERROR;
    }
    program.reset();
    return WriteEncodedProgram(encoded, output);
}

Status PatcherX86_32::reformElement(ReadStreamSet *element, WriteStream *output) {
    EncodedProgram program;
    if (ReadEncodedProgram(element, &program) != C_OK) {
        return C_DESERIALIZATION_FAILED;
    }
    if (AssembleProgram(program, output) != C_OK) {
        return C_ASSEMBLY_FAILED;
    }
    return C_OK;
}

void PatcherX86_32::setBase(uint32_t offset, uint32_t length) {
    m_BaseOffset = offset;
    m_BaseLength = length;
}

}  // namespace vxdelta
