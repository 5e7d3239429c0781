// The per-element patchers of the ensemble patch. An element is an executable
// image at [base offset, base offset + base length) of the old file. The
// applier and the generator run the same transformElement over the same
// bytes, so what it writes is part of the patch format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "streams.h"
#include "vxdelta.h"

namespace vxdelta {

class TransformationPatcher {
public:
    TransformationPatcher() = default;
    virtual ~TransformationPatcher();
    TransformationPatcher(const TransformationPatcher &) = delete;
    TransformationPatcher &operator=(const TransformationPatcher &) = delete;

    // Reads the element's parameters from the transformation descriptions.
    virtual Status readParameters(ReadStream *stream) = 0;
    // Writes the parameters the applier expects before correction.
    virtual Status predictParameters(StreamSet *parameters) = 0;
    // Turns the old element, given its corrected parameters, into its
    // encoded form in output.
    virtual Status transformElement(ReadStreamSet *parameters, StreamSet *output) = 0;
    // Assembles the corrected encoded element, appending its bytes to output.
    virtual Status reformElement(ReadStreamSet *element, WriteStream *output) = 0;
};

// The patcher of every executable kind (1 to 7): the element is
// disassembled, trimmed and encoded; its parameters carry nothing.
class PatcherX86_32 : public TransformationPatcher {
public:
    // The old file (the ensemble region) must outlive the patcher.
    PatcherX86_32(const uint8_t *oldStart, size_t oldLength);

    // Base offset and length as varints. C_BAD_BASE when either is missing or
    // the range does not lie within the old file.
    Status readParameters(ReadStream *stream) override;
    // Writes nothing.
    Status predictParameters(StreamSet *parameters) override;
    // C_GENERAL_ERROR when parameters is not empty or encoding fails; the
    // disassembler's or label trimming's status; C_STREAM_ERROR when the
    // encoded program cannot be written.
    Status transformElement(ReadStreamSet *parameters, StreamSet *output) override;
    // C_DESERIALIZATION_FAILED or C_ASSEMBLY_FAILED on failure.
    Status reformElement(ReadStreamSet *element, WriteStream *output) override;

    // Sets the element's range directly (the generator knows it).
    void setBase(uint32_t offset, uint32_t length);
    uint32_t baseOffset() const { return m_BaseOffset; }
    uint32_t baseLength() const { return m_BaseLength; }

private:
    const uint8_t *m_OldStart;
    size_t m_OldLength;
    uint32_t m_BaseOffset = 0;
    uint32_t m_BaseLength = 0;
};

}  // namespace vxdelta
