#include "bytediff.h"
#include "checksum.h"
#include "container.h"
#include "encoded_program.h"
#include "engine_log.h"
#include "file_io.h"
#include "lzma2_section.h"
#include "vxdelta.h"

namespace vxdelta {

namespace {

// Lets the payload decoder drop the mapped input behind it, so a large file
// does not hold its compressed bytes resident next to the whole output.
class MappedInputReleaser : public InputReleaser {
public:
    explicit MappedInputReleaser(MappedFile *file) : m_File(file) {}
    void releaseBefore(const uint8_t *position) override {
        if (position - m_Released >= kStep) {
            m_File->dropPagesBefore(position);
            m_Released = position;
        }
    }

private:
    // Dropping pages costs a system call: one per this many bytes read.
    static constexpr ptrdiff_t kStep = ptrdiff_t{1} << 20;
    MappedFile *m_File;
    const uint8_t *m_Released = m_File->data();
};

// Assembles the encoded program serialised in stream, appending to assembly.
bool AssembleStoredProgram(const ReadStream &stream, WriteStream *assembly) {
    ReadStreamSet programSet;
    if (!programSet.init(stream)) {
        return Fail("could not init program_source set");
    }
    EncodedProgram program;
    if (ReadEncodedProgram(&programSet, &program) != C_OK) {
        return Fail("could not read encoded program");
    }
    if (AssembleProgram(program, assembly) != C_OK) {
        return Fail("could not assemble program");
    }
    return true;
}

bool DecompressDisAndDiff(ReadStream *payload, WriteStream *out, InputReleaser *release) {
    WriteStream work;
    if (!DecodeLzma2Section(payload, &work, release)) {
        return Fail("could not decompress file");
    }
    ReadStreamSet set;
    if (!set.init(work.data(), work.length())) {
        return Fail("could not init dif_and_dis set");
    }
    if (set.count() < 2) {
        return Fail("dis_and_diff too small");
    }
    WriteStream assembly;
    for (size_t i = 0; i + 1 < set.count(); ++i) {
        if (!AssembleStoredProgram(*set.stream(i), &assembly)) {
            return false;
        }
    }
    if (!ApplyByteDiff(assembly.reader(), set.stream(set.count() - 1), out, false)) {
        return Fail("could not apply diff");
    }
    return true;
}

}  // namespace

bool DecompressBuffer(const uint8_t *data, size_t size, WriteStream *out, InputReleaser *release) {
    ReadStream in(data, size);
    uint32_t magic = 0;
    uint32_t checksum = 0;
    uint32_t directive = 0;
    if (!in.readVarint(&magic) || !in.readVarint(&checksum) || !in.readVarint(&directive)) {
        return Fail("could not read lzma header");
    }
    if (magic != kContainerMagic) {
        return Fail("not lzma file");
    }
    if (directive == kDirectivePlain) {
        if (!DecodeLzma2Section(&in, out, release)) {
            return Fail("could not decompress file");
        }
    } else if (directive == kDirectiveDisAndDiff) {
        if (!DecompressDisAndDiff(&in, out, release)) {
            return false;
        }
    } else {
        return Fail("Unknown preprocessing dirrective");
    }
    if (FileChecksum(out->data(), out->length()) != checksum) {
        return Fail("crc mismatch");
    }
    return true;
}

bool DecompressFile(const oschar *input, const oschar *output) {
    WriteStream out;
    {
        MappedFile file;
        if (!file.open(input) || file.size() == 0) {
            return Fail("could not open lzma file");
        }
        MappedInputReleaser release(&file);
        if (!DecompressBuffer(file.data(), file.size(), &out, &release)) {
            return false;
        }
    }
    if (!WriteWholeFile(output, out.data(), out.length())) {
        return Fail("could not write output file");
    }
    return true;
}

}  // namespace vxdelta
