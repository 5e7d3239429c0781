#include "ensemble_format.h"

namespace vxdelta {

Status ReadEnsembleHeader(ReadStream *patch, EnsembleHeader *header) {
    uint32_t magic = 0;
    if (!patch->readVarint(&magic) || magic != kEnsembleMagic) {
        return C_BAD_ENSEMBLE_MAGIC;
    }
    uint32_t version = 0;
    if (!patch->readVarint(&version) || version != kEnsembleVersion) {
        return C_BAD_ENSEMBLE_VERSION;
    }
    if (!patch->readVarint(&header->sourceChecksum) ||
        !patch->readVarint(&header->targetChecksum) ||
        !patch->readVarint(&header->finalInputSize)) {
        return C_BAD_ENSEMBLE_HEADER;
    }
    return C_OK;
}

bool WriteEnsembleHeader(const EnsembleHeader &header, WriteStream *out) {
    return out->writeVarint(kEnsembleMagic) && out->writeVarint(kEnsembleVersion) &&
           out->writeVarint(header.sourceChecksum) && out->writeVarint(header.targetChecksum) &&
           out->writeVarint(header.finalInputSize);
}

}  // namespace vxdelta
