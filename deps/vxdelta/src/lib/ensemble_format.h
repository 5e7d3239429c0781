// Internal: the ensemble patch format shared by the applier and the
// generator. Layout: magic, version, source checksum, target checksum and
// final input size (varints), then one LZMA2 section holding a stream set of
// at least four streams: the transformation descriptions, the parameter
// correction, the element correction and the final correction.
#pragma once

#include <cstdint>

#include "streams.h"
#include "vxdelta.h"

namespace vxdelta {

constexpr uint32_t kEnsembleMagic = 7696195;
constexpr uint32_t kEnsembleVersion = 20110216;

enum EnsembleBodyStream : size_t {
    kBodyDescriptions = 0,
    kBodyParameterCorrection = 1,
    kBodyElementCorrection = 2,
    kBodyFinalCorrection = 3,
    kBodyStreams = 4,
};

struct EnsembleHeader {
    uint32_t sourceChecksum = 0;
    uint32_t targetChecksum = 0;
    // Expected length of the old file followed by the reassembled elements.
    uint32_t finalInputSize = 0;
};

// Reads the header from patch's position. C_OK; C_BAD_ENSEMBLE_MAGIC when the
// magic is missing or different; C_BAD_ENSEMBLE_VERSION for another version;
// C_BAD_ENSEMBLE_HEADER when a checksum or the size is truncated.
Status ReadEnsembleHeader(ReadStream *patch, EnsembleHeader *header);

// Appends the header with the magic and the current version to out.
bool WriteEnsembleHeader(const EnsembleHeader &header, WriteStream *out);

}  // namespace vxdelta
