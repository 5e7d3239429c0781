// Ensemble patch apply: file mapping and header checks. The body (element
// transformations and the three corrections) is refused as malformed until
// the element patchers exist.
#include "file_io.h"
#include "streams.h"
#include "vxdelta.h"

namespace vxdelta {

namespace {

constexpr uint32_t kEnsembleMagic = 7696195;
constexpr uint32_t kEnsembleVersion = 20110216;

struct EnsembleHeader {
    uint32_t sourceChecksum = 0;
    uint32_t targetChecksum = 0;
    uint32_t finalInputSize = 0;
};

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

}  // namespace

Status ApplyEnsemblePatchFiles(const oschar *oldPath, const oschar *patchPath,
                               const oschar *newPath) {
    (void)newPath;
    MappedFile patchFile;
    if (!patchFile.open(patchPath)) {
        return C_READ_OPEN_ERROR;
    }
    ReadStream patch(patchFile.data(), patchFile.size());
    EnsembleHeader header;
    const Status status = ReadEnsembleHeader(&patch, &header);
    if (status != C_OK) {
        return status;
    }
    MappedFile oldFile;
    if (!oldFile.open(oldPath)) {
        return C_READ_ERROR;
    }
    return C_BAD_ENSEMBLE_HEADER;
}

}  // namespace vxdelta
