// ApplyEnsemblePatchStreams over a fixed old file with arbitrary patches.
// The first input byte chooses how the rest is used: odd, it is the whole
// patch; even, it is the content of the body section, wrapped in a header
// that matches the old file and stored in uncompressed LZMA2 chunks, so that
// mutations reach the body's streams instead of stopping at the source
// checksum or the LZMA2 decoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "checksum.h"
#include "ensemble_format.h"
#include "streams.h"
#include "vxdelta.h"

namespace {

constexpr size_t kOldSize = 4096;
constexpr size_t kMaxChunk = 65536;
constexpr uint8_t kDictionaryProperty = 16;
constexpr uint8_t kChunkWithReset = 0x01;
constexpr uint8_t kChunkWithoutReset = 0x02;

// The seed corpus was made against exactly these bytes:
// old[i] = (i * 7 + (i >> 5)) & 0xFF.
const std::vector<uint8_t> &OldFile() {
    static const std::vector<uint8_t> old = [] {
        std::vector<uint8_t> bytes(kOldSize);
        for (size_t i = 0; i < kOldSize; ++i) {
            bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 5));
        }
        return bytes;
    }();
    return old;
}

bool WrapBody(const uint8_t *body, size_t size, vxdelta::WriteStream *patch) {
    const std::vector<uint8_t> &old = OldFile();
    vxdelta::EnsembleHeader header;
    header.sourceChecksum = vxdelta::FileChecksum(old.data(), old.size());
    header.finalInputSize = static_cast<uint32_t>(old.size());
    if (!vxdelta::WriteEnsembleHeader(header, patch) || !patch->writeByte(kDictionaryProperty) ||
        !patch->writeSizeVarint(size)) {
        return false;
    }
    for (size_t done = 0; done < size;) {
        const size_t chunk = size - done < kMaxChunk ? size - done : kMaxChunk;
        const uint8_t control = done == 0 ? kChunkWithReset : kChunkWithoutReset;
        const uint8_t chunkHeader[3] = {control, static_cast<uint8_t>((chunk - 1) >> 8),
                                        static_cast<uint8_t>(chunk - 1)};
        if (!patch->write(chunkHeader, sizeof chunkHeader) || !patch->write(body + done, chunk)) {
            return false;
        }
        done += chunk;
    }
    return patch->writeByte(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::vector<uint8_t> &old = OldFile();
    const vxdelta::ReadStream oldStream(old.data(), old.size());
    vxdelta::WriteStream out;
    if ((data[0] & 1) != 0) {
        vxdelta::ApplyEnsemblePatchStreams(oldStream, vxdelta::ReadStream(data + 1, size - 1),
                                           &out);
        return 0;
    }
    vxdelta::WriteStream patch;
    if (WrapBody(data + 1, size - 1, &patch)) {
        vxdelta::ApplyEnsemblePatchStreams(oldStream, patch.reader(), &out);
    }
    return 0;
}
