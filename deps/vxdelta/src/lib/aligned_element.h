// Internal: the encoded form of the new element of an ensemble patch pair,
// with the label indexes that make the element correction smallest.
#pragma once

#include <cstddef>

#include "executable_images.h"
#include "streams.h"
#include "vxdelta.h"

namespace vxdelta {

// Which label indexes the new element was encoded with.
enum class LabelForm {
    kDefault,  // ascending address order, as a disassembler assigns them
    kAligned,  // aligned to the old element's (label_alignment.h)
};

// Encodes the image newData[newRange] as the new element of a pair whose old
// element is old[oldRange], encoded (by the applier's patcher) as
// oldEncoded. The new program is disassembled and trimmed as an old one
// would be, then encoded with the aligned and with the default label
// indexes; the form whose correction from oldEncoded is smaller is kept
// (the default one on a tie). Both forms assemble to the same bytes. The
// disassembler's or trimming's status when either image cannot be turned
// into a program, C_GENERAL_ERROR when encoding fails, else C_OK. form, if
// given, tells which form was kept.
Status EncodeNewElement(const ReadStream &old, const ByteRange &oldRange, const ReadStream &newData,
                        const ByteRange &newRange, const StreamSet &oldEncoded,
                        StreamSet *newEncoded, LabelForm *form = nullptr);

// The size of the element correction from oldEncoded to newEncoded for a
// patch of this one pair: the LZMA2-compressed byte diff of the two flat
// sets. SIZE_MAX when it cannot be computed.
size_t ElementCorrectionCost(const StreamSet &oldEncoded, const StreamSet &newEncoded);

}  // namespace vxdelta
