// The ensemble patch generator. Elements are the executable images that old
// and new have in common by kind; the encoded old elements are produced by
// the applier's own patcher, so the element correction starts from exactly
// the bytes the applier will have.
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "aligned_element.h"
#include "bytediff.h"
#include "checksum.h"
#include "disassembler.h"
#include "engine_log.h"
#include "ensemble_format.h"
#include "ensemble_generator.h"
#include "ensemble_streams.h"
#include "executable_images.h"
#include "file_io.h"
#include "lzma2_part_list.h"
#include "lzma2_section.h"
#include "transformation_patcher.h"
#include "vxdelta.h"

namespace vxdelta {

namespace {

struct Element {
    ExeType kind;
    ByteRange range;
};

// An old element, the new element it pairs with, and their encoded forms.
struct ElementPair {
    Element old;
    StreamSet oldEncoded;
    StreamSet newEncoded;
};

using PairList = std::vector<std::unique_ptr<ElementPair>>;

std::vector<Element> FindElements(const ReadStream &file) {
    std::vector<Element> elements;
    for (const ByteRange &range : CandidateImageRanges(file.position(), file.remaining())) {
        ExeType kind = EXE_UNKNOWN;
        size_t detected = 0;
        if (DetectExeType(file.position() + range.offset, range.length, &kind, &detected) == C_OK) {
            elements.push_back({kind, range});
        }
    }
    return elements;
}

// The encoded form of element, as an applier's transformElement makes it.
Status EncodeElement(const ReadStream &file, const Element &element, StreamSet *encoded) {
    PatcherX86_32 patcher(file.position(), file.remaining());
    patcher.setBase(static_cast<uint32_t>(element.range.offset),
                    static_cast<uint32_t>(element.range.length));
    ReadStreamSet noParameters;
    return patcher.transformElement(&noParameters, encoded);
}

// The i-th element of a kind in new pairs with the i-th element of that kind
// in old. Pairs whose images cannot both be encoded are left out.
PairList PairElements(const ReadStream &old, const ReadStream &newData) {
    const std::vector<Element> oldElements = FindElements(old);
    const std::vector<Element> newElements = FindElements(newData);
    std::vector<bool> used(oldElements.size(), false);
    PairList pairs;
    for (const Element &target : newElements) {
        for (size_t i = 0; i < oldElements.size(); ++i) {
            if (used[i] || oldElements[i].kind != target.kind) {
                continue;
            }
            used[i] = true;
            auto pair = std::make_unique<ElementPair>();
            pair->old = oldElements[i];
            if (EncodeElement(old, oldElements[i], &pair->oldEncoded) == C_OK &&
                EncodeNewElement(old, oldElements[i].range, newData, target.range, pair->oldEncoded,
                                 &pair->newEncoded) == C_OK) {
                pairs.push_back(std::move(pair));
            } else {
                LogError("element left out: it cannot be encoded");
            }
            break;
        }
    }
    return pairs;
}

bool WriteDescriptions(const PairList &pairs, WriteStream *out) {
    bool ok = out->writeSizeVarint(pairs.size());
    for (const auto &pair : pairs) {
        ok = ok && out->writeVarint(static_cast<uint32_t>(pair->old.kind));
    }
    for (const auto &pair : pairs) {
        ok = ok && out->writeSizeVarint(pair->old.range.offset) &&
             out->writeSizeVarint(pair->old.range.length);
    }
    return ok;
}

bool Diff(const WriteStream &from, const WriteStream &to, WriteStream *out) {
    return GenerateByteDiff(from.reader(), to.reader(), out, false, kByteDiffUncompressed);
}

// The parameter correction: the patcher's parameters carry nothing, so the
// corrected parameters are the predicted ones.
bool WriteParameterCorrection(const PairList &pairs, WriteStream *out) {
    StreamSet predicted;
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (!WriteNestedSet(StreamSet(), &predicted)) {
            return false;
        }
    }
    WriteStream flat;
    return predicted.serialize(&flat) && Diff(flat, flat, out);
}

// Appends the old file and the reassembled new elements (read back from
// their flat set, as the applier does) to finalInput.
bool BuildFinalInput(const ReadStream &old, const PairList &pairs, const WriteStream &newFlat,
                     WriteStream *finalInput) {
    if (!finalInput->write(old.position(), old.remaining())) {
        return false;
    }
    ReadStreamSet elements;
    if (!elements.init(newFlat.data(), newFlat.length())) {
        return false;
    }
    PatcherX86_32 patcher(old.position(), old.remaining());
    for (size_t i = 0; i < pairs.size(); ++i) {
        ReadStreamSet own;
        if (!ReadNestedSet(&elements, &own) || patcher.reformElement(&own, finalInput) != C_OK) {
            return false;
        }
    }
    return true;
}

// The final correction, from finalInput (old, then the reassembled new
// elements) to newData. When the reassembled elements are the new file
// itself (a file that is one executable image, the common case) it is a copy
// of them, written without searching the old file and the elements.
bool WriteFinalCorrection(const ReadStream &old, const WriteStream &finalInput,
                          const ReadStream &newData, WriteStream *out) {
    const size_t assembled = finalInput.length() - old.remaining();
    if (assembled != 0 && assembled == newData.remaining() &&
        std::memcmp(finalInput.data() + old.remaining(), newData.position(), assembled) == 0) {
        return WriteCopyByteDiff(old.remaining(), assembled, out);
    }
    return GenerateByteDiff(finalInput.reader(), newData, out, false, kByteDiffUncompressed);
}

// Consumes the pairs' encoded elements: each is released once it is copied
// into the nested sets, so that no encoding is held twice for long.
bool WriteElementAndFinalCorrections(const ReadStream &old, const ReadStream &newData,
                                     PairList *pairs, StreamSet *body, uint32_t *finalInputSize) {
    StreamSet oldElements;
    StreamSet newElements;
    for (const auto &pair : *pairs) {
        if (!WriteNestedSet(pair->oldEncoded, &oldElements) ||
            !WriteNestedSet(pair->newEncoded, &newElements)) {
            return false;
        }
        pair->oldEncoded.release();
        pair->newEncoded.release();
    }
    WriteStream oldFlat;
    WriteStream newFlat;
    if (!oldElements.serialize(&oldFlat) || !newElements.serialize(&newFlat)) {
        return false;
    }
    oldElements.release();
    newElements.release();
    if (!Diff(oldFlat, newFlat, &body->stream(kBodyElementCorrection))) {
        return false;
    }
    oldFlat.release();
    WriteStream finalInput;
    if (!BuildFinalInput(old, *pairs, newFlat, &finalInput)) {
        return Fail("could not reassemble the new elements");
    }
    *finalInputSize = static_cast<uint32_t>(finalInput.length());
    return finalInput.length() == *finalInputSize &&
           WriteFinalCorrection(old, finalInput, newData, &body->stream(kBodyFinalCorrection));
}

// Below this many body bytes the body is also compressed as one preset-9
// part, and the shorter section is kept: on small bodies either form can
// win by a few percent, and both encoders together stay small.
constexpr size_t kBothFormsBelow = size_t{1} << 20;

// Compresses the body header and streams as one section appended to out.
// The byte diffs' corrections take the optimal sparse search (see
// Lzma2PartList), whose small window keeps the encoders of a large body
// small.
bool EncodeBody(const WriteStream &bodyHeader, const StreamSet &body, Lzma2Search corrections,
                WriteStream *out) {
    Lzma2PartList split;
    Lzma2PartList whole;
    size_t total = bodyHeader.length();
    split.add({bodyHeader.data(), bodyHeader.length()}, Lzma2Search::kThorough);
    whole.add({bodyHeader.data(), bodyHeader.length()}, Lzma2Search::kThorough);
    for (size_t i = 0; i < body.count(); ++i) {
        const WriteStream &stream = body.stream(i);
        total += stream.length();
        whole.add({stream.data(), stream.length()}, Lzma2Search::kThorough);
        if (i == kBodyDescriptions) {
            split.add({stream.data(), stream.length()}, Lzma2Search::kThorough);
        } else {
            split.addByteDiff(stream.data(), stream.length(), corrections);
        }
    }
    if (total >= kBothFormsBelow) {
        return split.encode(out);
    }
    WriteStream bySplit;
    WriteStream byWhole;
    if (!split.encode(&bySplit) || !whole.encode(&byWhole)) {
        return false;
    }
    return out->append(bySplit.length() <= byWhole.length() ? &bySplit : &byWhole);
}

// The body is compressed from its streams in place (a serialised copy of it
// would be as large again). Consumes the pairs' encoded elements.
bool BuildPatch(const ReadStream &old, const ReadStream &newData, PairList *pairs,
                Lzma2Search corrections, WriteStream *out) {
    StreamSet body;
    body.setCount(kBodyStreams);
    EnsembleHeader header;
    header.sourceChecksum = FileChecksum(old.position(), old.remaining());
    header.targetChecksum = FileChecksum(newData.position(), newData.remaining());
    if (!WriteDescriptions(*pairs, &body.stream(kBodyDescriptions)) ||
        !WriteParameterCorrection(*pairs, &body.stream(kBodyParameterCorrection)) ||
        !WriteElementAndFinalCorrections(old, newData, pairs, &body, &header.finalInputSize)) {
        return false;
    }
    WriteStream bodyHeader;
    if (!body.serializeHeader(&bodyHeader)) {
        return false;
    }
    return WriteEnsembleHeader(header, out) && EncodeBody(bodyHeader, body, corrections, out);
}

// The element patch replaces the plain one only when it applies back to
// exactly the new file.
bool Reproduces(const ReadStream &old, const ReadStream &newData, const WriteStream &patch) {
    WriteStream rebuilt;
    return ApplyEnsemblePatchStreams(old, patch.reader(), &rebuilt) == C_OK &&
           rebuilt.length() == newData.remaining() &&
           (rebuilt.length() == 0 ||
            std::memcmp(rebuilt.data(), newData.position(), rebuilt.length()) == 0);
}

// True when old and new both hold an image of some one kind, so that the
// patch with elements is worth building.
bool MayPairElements(const ReadStream &old, const ReadStream &newData) {
    const std::vector<Element> oldElements = FindElements(old);
    for (const Element &target : FindElements(newData)) {
        for (const Element &element : oldElements) {
            if (element.kind == target.kind) {
                return true;
            }
        }
    }
    return false;
}

// The plain patch with the optimal search for its corrections. When the
// patch with elements is also built, the plain one is first built with the
// faster search, which is enough to see that the other is smaller (the
// usual case for executables), and built again only when it is kept.
Status Generate(const ReadStream &old, const ReadStream &newData, WriteStream *patch,
                ElementUse use) {
    const bool withPairs = MayPairElements(old, newData);
    const Lzma2Search plainSearch = withPairs ? Lzma2Search::kSparse : Lzma2Search::kSparseOptimal;
    WriteStream plain;
    PairList none;
    if (!BuildPatch(old, newData, &none, plainSearch, &plain)) {
        return FailWith(C_GENERAL_ERROR, "could not build the patch");
    }
    PairList pairs = withPairs ? PairElements(old, newData) : PairList();
    if (!pairs.empty()) {
        WriteStream withElements;
        const bool wanted =
            BuildPatch(old, newData, &pairs, Lzma2Search::kSparseOptimal, &withElements) &&
            (use == ElementUse::kAlways || withElements.length() < plain.length());
        if (wanted && Reproduces(old, newData, withElements)) {
            return patch->append(&withElements) ? C_OK : C_STREAM_ERROR;
        }
        if (use == ElementUse::kAlways) {
            return FailWith(C_GENERAL_ERROR, "the patch with elements does not apply back");
        }
    }
    if (plainSearch != Lzma2Search::kSparseOptimal) {
        WriteStream optimal;
        if (!BuildPatch(old, newData, &none, Lzma2Search::kSparseOptimal, &optimal)) {
            return FailWith(C_GENERAL_ERROR, "could not build the patch");
        }
        plain = std::move(optimal);
    }
    return patch->append(&plain) ? C_OK : C_STREAM_ERROR;
}

}  // namespace

Status GenerateEnsemblePatch(const ReadStream &old, const ReadStream &newData, WriteStream *patch,
                             ElementUse use) {
    try {
        return Generate(old, newData, patch, use);
    } catch (const std::bad_alloc &) {
        return FailWith(C_GENERAL_ERROR, "out of memory while building the patch");
    }
}

Status GenerateEnsemblePatch(const ReadStream &old, const ReadStream &newData, WriteStream *patch) {
    return GenerateEnsemblePatch(old, newData, patch, ElementUse::kWhenSmaller);
}

bool GenerateEnsemblePatchFiles(const oschar *oldPath, const oschar *newPath,
                                const oschar *patchPath) {
    MappedFile old;
    MappedFile newFile;
    if (!old.open(oldPath) || !newFile.open(newPath)) {
        return Fail("could not open input file");
    }
    WriteStream patch;
    if (GenerateEnsemblePatch(ReadStream(old.data(), old.size()),
                              ReadStream(newFile.data(), newFile.size()), &patch) != C_OK) {
        return false;
    }
    if (!WriteWholeFile(patchPath, patch.data(), patch.length())) {
        return Fail("could not write output file");
    }
    return true;
}

}  // namespace vxdelta
