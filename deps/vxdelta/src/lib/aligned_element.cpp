#include "aligned_element.h"

#include <cstdint>
#include <memory>
#include <utility>

#include "asm_program.h"
#include "bytediff.h"
#include "disassembler.h"
#include "encoded_program.h"
#include "freed_memory.h"
#include "label_alignment.h"
#include "lzma2_part_list.h"
#include "lzma2_section.h"

namespace vxdelta {

namespace {

// The program of one element as the applier's patcher builds it.
Status TrimmedProgram(const ReadStream &file, const ByteRange &range,
                      std::unique_ptr<AsmProgram> *program) {
    const Status status =
        DisassembleExecutable(file.position() + range.offset, range.length, program);
    return status == C_OK ? (*program)->trimLabels() : status;
}

Status Encode(const AsmProgram &program, StreamSet *out) {
    EncodedProgram encoded;
    if (EncodeProgram(program, &encoded) != C_OK) {
        return C_GENERAL_ERROR;
    }
    return WriteEncodedProgram(encoded, out) == C_OK ? C_OK : C_GENERAL_ERROR;
}

// The indexes program's labels carry now, in the form ApplyLabelIndexes takes.
LabelIndexes CurrentIndexes(const AsmProgram &program) {
    LabelIndexes indexes;
    indexes.abs32.reserve(program.abs32Labels().size());
    indexes.rel32.reserve(program.rel32Labels().size());
    for (const auto &entry : program.abs32Labels()) {
        indexes.abs32.push_back(entry.second->index);
    }
    for (const auto &entry : program.rel32Labels()) {
        indexes.rel32.push_back(entry.second->index);
    }
    return indexes;
}

}  // namespace

size_t ElementCorrectionCost(const StreamSet &oldEncoded, const StreamSet &newEncoded) {
    WriteStream diff;
    {
        // The flat copies go before compression, whose encoder is the larger
        // allocation.
        WriteStream oldFlat;
        WriteStream newFlat;
        if (!oldEncoded.serialize(&oldFlat) || !newEncoded.serialize(&newFlat) ||
            !GenerateByteDiff(oldFlat.reader(), newFlat.reader(), &diff, false,
                              kByteDiffUncompressed)) {
            return SIZE_MAX;
        }
    }
    // Compressed as the patch body compresses it, with the faster search for
    // the corrections: both forms are measured alike.
    Lzma2PartList parts;
    parts.addByteDiff(diff.data(), diff.length(), Lzma2Search::kSparse);
    WriteStream packed;
    return parts.encode(&packed) ? packed.length() : SIZE_MAX;
}

Status EncodeNewElement(const ReadStream &old, const ByteRange &oldRange, const ReadStream &newData,
                        const ByteRange &newRange, const StreamSet &oldEncoded,
                        StreamSet *newEncoded, LabelForm *form) {
    std::unique_ptr<AsmProgram> oldProgram;
    std::unique_ptr<AsmProgram> newProgram;
    Status status = TrimmedProgram(old, oldRange, &oldProgram);
    if (status == C_OK) {
        status = TrimmedProgram(newData, newRange, &newProgram);
    }
    if (status != C_OK) {
        return status;
    }
    // The default form is encoded after the alignment, whose tokens and
    // old program are the largest allocations, have gone.
    const LabelIndexes byDefaultIndexes = CurrentIndexes(*newProgram);
    const LabelIndexes aligned = AlignLabels(*oldProgram, *newProgram);
    oldProgram.reset();
    ReleaseFreedMemory();
    StreamSet byAlignment;
    StreamSet byDefault;
    if (!ApplyLabelIndexes(aligned, newProgram.get()) ||
        Encode(*newProgram, &byAlignment) != C_OK ||
        !ApplyLabelIndexes(byDefaultIndexes, newProgram.get()) ||
        Encode(*newProgram, &byDefault) != C_OK) {
        return C_GENERAL_ERROR;
    }
    newProgram.reset();
    ReleaseFreedMemory();
    const bool alignedWins = ElementCorrectionCost(oldEncoded, byAlignment) <
                             ElementCorrectionCost(oldEncoded, byDefault);
    if (form != nullptr) {
        *form = alignedWins ? LabelForm::kAligned : LabelForm::kDefault;
    }
    StreamSet &kept = alignedWins ? byAlignment : byDefault;
    for (size_t i = 0; i < kMaxStreamSetStreams; ++i) {
        newEncoded->stream(i) = std::move(kept.stream(i));
    }
    newEncoded->setCount(kept.count());
    return C_OK;
}

}  // namespace vxdelta
