// Ensemble patch apply: the header and old-file checks, then the element
// pipeline (descriptions, parameter correction, transform up, element
// correction, transform down) and the final correction.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "bytediff.h"
#include "bytediff_format.h"
#include "checksum.h"
#include "ensemble_format.h"
#include "ensemble_streams.h"
#include "exe_type.h"
#include "file_io.h"
#include "lzma2_section.h"
#include "transformation_patcher.h"
#include "vxdelta.h"

namespace vxdelta {

namespace {

using PatcherList = std::vector<std::unique_ptr<TransformationPatcher>>;

// Every element takes at least one byte for its kind, so a count beyond the
// stream's bytes is malformed and never reaches the allocator.
Status ReadDescriptions(ReadStream *descriptions, const ReadStream &old, PatcherList *patchers) {
    uint32_t count = 0;
    if (!descriptions->readVarint(&count) || count > descriptions->remaining()) {
        return C_BAD_ENSEMBLE_HEADER;
    }
    patchers->reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t kind = 0;
        if (!descriptions->readVarint(&kind) || kind < 1 || kind > kLastExeType) {
            return C_BAD_ENSEMBLE_HEADER;
        }
        patchers->emplace_back(new PatcherX86_32(old.position(), old.remaining()));
    }
    for (auto &patcher : *patchers) {
        const Status status = patcher->readParameters(descriptions);
        if (status != C_OK) {
            return status;
        }
    }
    return descriptions->empty() ? C_OK : C_BAD_ENSEMBLE_HEADER;
}

// Serialises set flat, applies the correction to it and parses the result
// into corrected, whose streams view storage.
Status CorrectSet(const StreamSet &set, ReadStream *correction, WriteStream *storage,
                  ReadStreamSet *corrected) {
    WriteStream flat;
    if (!set.serialize(&flat)) {
        return C_STREAM_ERROR;
    }
    if (!ApplyByteDiff(flat.reader(), correction, storage, false)) {
        return C_GENERAL_ERROR;
    }
    return corrected->init(storage->data(), storage->length()) ? C_OK : C_STREAM_ERROR;
}

Status PredictParameters(const PatcherList &patchers, StreamSet *predicted) {
    for (const auto &patcher : patchers) {
        StreamSet element;
        const Status status = patcher->predictParameters(&element);
        if (status != C_OK) {
            return status;
        }
        if (!WriteNestedSet(element, predicted)) {
            return C_STREAM_ERROR;
        }
    }
    return C_OK;
}

Status TransformUp(const PatcherList &patchers, ReadStreamSet *parameters, StreamSet *elements) {
    for (const auto &patcher : patchers) {
        ReadStreamSet own;
        if (!ReadNestedSet(parameters, &own)) {
            return C_STREAM_ERROR;
        }
        StreamSet transformed;
        const Status status = patcher->transformElement(&own, &transformed);
        if (status != C_OK) {
            return status;
        }
        if (!own.consumed()) {
            return C_STREAM_NOT_CONSUMED;
        }
        if (!WriteNestedSet(transformed, elements)) {
            return C_STREAM_ERROR;
        }
    }
    return parameters->consumed() ? C_OK : C_STREAM_NOT_CONSUMED;
}

Status TransformDown(const PatcherList &patchers, ReadStreamSet *elements, WriteStream *output) {
    for (const auto &patcher : patchers) {
        ReadStreamSet own;
        if (!ReadNestedSet(elements, &own)) {
            return C_STREAM_ERROR;
        }
        const Status status = patcher->reformElement(&own, output);
        if (status != C_OK) {
            return status;
        }
        if (!own.consumed()) {
            return C_STREAM_NOT_CONSUMED;
        }
    }
    return elements->consumed() ? C_OK : C_STREAM_NOT_CONSUMED;
}

// The prediction in the header is untrusted: the old file and the
// reassembled elements cannot plausibly exceed a few times the old file, so a
// larger figure is not reserved up front (the buffer still grows if needed).
size_t PlausibleFinalInputSize(uint32_t predicted, size_t oldSize) {
    constexpr size_t kSlack = 1 << 20;
    const size_t bound = oldSize * 4 + kSlack;
    return predicted < bound ? predicted : bound;
}

// True when correction, applied to the old file followed by the reassembled
// elements, yields the first *length reassembled bytes: the form the
// generator writes when the elements are the new file (an uncompressed byte
// diff of two triples, a move past the old file and a copy of *length bytes,
// with zero corrections and no inserted bytes).
bool IsCopyOfElements(ReadStream correction, size_t oldSize, uint32_t *length) {
    ByteDiffStreams streams;
    if (!ReadUncompressedByteDiff(&correction, length, &streams) || *length == 0 ||
        streams.corrections.remaining() != *length || !streams.inserted.empty()) {
        return false;
    }
    ReadStream &control = streams.control;
    int32_t triples[6] = {};
    for (int32_t &value : triples) {
        if (!control.readSignedVarint(&value)) {
            return false;
        }
    }
    const int32_t expected[6] = {0, 0, static_cast<int32_t>(oldSize), static_cast<int32_t>(*length),
                                 0, 0};
    if (oldSize > static_cast<size_t>(INT32_MAX) || !control.empty() ||
        !std::equal(triples, triples + 6, expected)) {
        return false;
    }
    const uint8_t *bytes = streams.corrections.position();
    return std::all_of(bytes, bytes + *length, [](uint8_t b) { return b == 0; });
}

// Where the elements are reassembled: at the end of out when the final
// correction is a copy of them (see IsCopyOfElements), which then keeps the
// copied bytes, without the old file's copy in front of them or a copy of
// the result; else into finalInput after the old file.
struct FinalStep {
    bool copyOfElements = false;
    uint32_t copied = 0;
    size_t start = 0;  // of the new file in out
    WriteStream finalInput;
};

Status PrepareFinalStep(const ReadStream &old, const EnsembleHeader &header,
                        const ReadStream &correction, WriteStream *out, FinalStep *step) {
    step->start = out->length();
    step->copyOfElements = IsCopyOfElements(correction, old.remaining(), &step->copied);
    if (step->copyOfElements) {
        return out->reserve(step->start + step->copied) ? C_OK : C_STREAM_ERROR;
    }
    return step->finalInput.reserve(
               PlausibleFinalInputSize(header.finalInputSize, old.remaining())) &&
                   step->finalInput.write(old.position(), old.remaining())
               ? C_OK
               : C_STREAM_ERROR;
}

Status FinishFinalStep(FinalStep *step, ReadStream *correction, WriteStream *out) {
    if (!step->copyOfElements) {
        return ApplyByteDiff(step->finalInput.reader(), correction, out, false) ? C_OK
                                                                                : C_GENERAL_ERROR;
    }
    if (out->length() - step->start < step->copied) {
        return C_GENERAL_ERROR;
    }
    out->truncate(step->start + step->copied);
    return C_OK;
}

// Steps after the body set has been read: the element pipeline and the
// final correction, appending the new file to out.
Status ApplyBody(const ReadStream &old, const EnsembleHeader &header, ReadStreamSet *body,
                 WriteStream *out) {
    PatcherList patchers;
    Status status = ReadDescriptions(body->stream(kBodyDescriptions), old, &patchers);
    if (status != C_OK) {
        return status;
    }
    StreamSet predicted;
    status = PredictParameters(patchers, &predicted);
    if (status != C_OK) {
        return status;
    }
    WriteStream parameterStorage;
    ReadStreamSet parameters;
    status = CorrectSet(predicted, body->stream(kBodyParameterCorrection), &parameterStorage,
                        &parameters);
    predicted.release();
    if (status != C_OK) {
        return status;
    }
    StreamSet encodedOld;
    status = TransformUp(patchers, &parameters, &encodedOld);
    if (status != C_OK) {
        return status;
    }
    WriteStream elementStorage;
    ReadStreamSet elements;
    status =
        CorrectSet(encodedOld, body->stream(kBodyElementCorrection), &elementStorage, &elements);
    encodedOld.release();
    if (status != C_OK) {
        return status;
    }
    FinalStep step;
    status = PrepareFinalStep(old, header, *body->stream(kBodyFinalCorrection), out, &step);
    if (status == C_OK) {
        status = TransformDown(patchers, &elements, step.copyOfElements ? out : &step.finalInput);
    }
    elementStorage.release();
    if (status == C_OK) {
        status = FinishFinalStep(&step, body->stream(kBodyFinalCorrection), out);
    }
    if (status != C_OK) {
        return status;
    }
    const size_t start = step.start;
    return FileChecksum(out->data() + start, out->length() - start) == header.targetChecksum
               ? C_OK
               : C_BAD_ENSEMBLE_CRC;
}

Status ApplyStreams(const ReadStream &old, ReadStream patch, WriteStream *out) {
    EnsembleHeader header;
    const Status status = ReadEnsembleHeader(&patch, &header);
    if (status != C_OK) {
        return status;
    }
    if (FileChecksum(old.position(), old.remaining()) != header.sourceChecksum) {
        return C_BAD_ENSEMBLE_CRC;
    }
    WriteStream bodyStorage;
    if (!DecodeLzma2Section(&patch, &bodyStorage)) {
        return C_STREAM_ERROR;
    }
    ReadStreamSet body;
    if (!body.init(bodyStorage.data(), bodyStorage.length())) {
        return C_STREAM_ERROR;
    }
    if (body.count() < kBodyStreams) {
        return C_BAD_ENSEMBLE_HEADER;
    }
    return ApplyBody(old, header, &body, out);
}

}  // namespace

Status ApplyEnsemblePatchStreams(const ReadStream &old, const ReadStream &patch, WriteStream *out) {
    try {
        return ApplyStreams(old, patch, out);
    } catch (const std::bad_alloc &) {
        return C_STREAM_ERROR;
    }
}

Status ApplyEnsemblePatchFiles(const oschar *oldPath, const oschar *patchPath,
                               const oschar *newPath) {
    MappedFile patchFile;
    if (!patchFile.open(patchPath)) {
        return C_READ_OPEN_ERROR;
    }
    const ReadStream patch(patchFile.data(), patchFile.size());
    ReadStream headerReader = patch;
    EnsembleHeader header;
    Status status = ReadEnsembleHeader(&headerReader, &header);
    if (status != C_OK) {
        return status;
    }
    MappedFile oldFile;
    if (!oldFile.open(oldPath)) {
        return C_READ_ERROR;
    }
    WriteStream out;
    status = ApplyEnsemblePatchStreams(ReadStream(oldFile.data(), oldFile.size()), patch, &out);
    if (status != C_OK) {
        return status;
    }
    return WriteWholeFile(newPath, out.data(), out.length()) ? C_OK : C_READ_ERROR;
}

}  // namespace vxdelta
