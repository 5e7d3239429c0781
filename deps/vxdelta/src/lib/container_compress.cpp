// The container generator: directive 2 for executables a disassembler
// recognises (a universal Mach-O file slice by slice), directive 1 otherwise.
#include <memory>
#include <vector>

#include "bytediff.h"
#include "checksum.h"
#include "container.h"
#include "disassembler.h"
#include "encoded_program.h"
#include "engine_log.h"
#include "executable_images.h"
#include "file_io.h"
#include "lzma2_section.h"
#include "vxdelta.h"

namespace vxdelta {

namespace {

bool WriteHeader(uint32_t checksum, uint32_t directive, WriteStream *out) {
    return out->writeVarint(kContainerMagic) && out->writeVarint(checksum) &&
           out->writeVarint(directive);
}

// Encodes, serialises and assembles one program: its set goes to stream,
// its bytes are appended to assembly.
bool StoreProgram(AsmProgram *program, WriteStream *stream, WriteStream *assembly) {
    if (program->trimLabels() != C_OK) {
        return Fail("could not trim labels");
    }
    EncodedProgram encoded;
    if (EncodeProgram(*program, &encoded) != C_OK) {
        return Fail("could not encode program");
    }
    LogEncodedProgramSummary(encoded);
    StreamSet set;
    if (WriteEncodedProgram(encoded, &set) != C_OK || !set.serialize(stream)) {
        return Fail("could not write encoded program");
    }
    if (AssembleProgram(encoded, assembly) != C_OK) {
        return Fail("could not assemble program");
    }
    return true;
}

// The recognised images of a file: every recognised slice of a universal
// Mach-O file, else the whole file if it is recognised.
std::vector<std::unique_ptr<AsmProgram>> DisassembleImages(const uint8_t *data, size_t size) {
    std::vector<std::unique_ptr<AsmProgram>> programs;
    for (const ByteRange &range : CandidateImageRanges(data, size)) {
        std::unique_ptr<AsmProgram> program;
        if (DisassembleExecutable(data + range.offset, range.length, &program) == C_OK) {
            programs.push_back(std::move(program));
        }
    }
    return programs;
}

bool CompressPlain(const uint8_t *data, size_t size, WriteStream *out) {
    return WriteHeader(FileChecksum(data, size), kDirectivePlain, out) &&
           EncodeLzma2Section(data, size, out);
}

}  // namespace

bool CompressWithPrograms(const uint8_t *data, size_t size, AsmProgram *const *programs,
                          size_t count, WriteStream *out) {
    if (count + 1 > kMaxStreamSetStreams) {
        return Fail("too many programs");
    }
    StreamSet set;
    set.setCount(count + 1);
    WriteStream assembly;
    for (size_t i = 0; i < count; ++i) {
        if (!StoreProgram(programs[i], &set.stream(i), &assembly)) {
            return false;
        }
    }
    if (!GenerateByteDiff(assembly.reader(), ReadStream(data, size), &set.stream(count), false,
                          kByteDiffUncompressed)) {
        return Fail("could not generate diff");
    }
    assembly.release();
    WriteStream payload;
    if (!set.serialize(&payload)) {
        return Fail("could not write dis_and_diff set");
    }
    set.release();
    return WriteHeader(FileChecksum(data, size), kDirectiveDisAndDiff, out) &&
           EncodeLzma2Section(payload.data(), payload.length(), out);
}

bool CompressBuffer(const uint8_t *data, size_t size, bool tryExecutables, WriteStream *out) {
    if (tryExecutables) {
        std::vector<std::unique_ptr<AsmProgram>> programs;
        try {
            programs = DisassembleImages(data, size);
        } catch (const std::bad_alloc &) {
            programs.clear();
        }
        if (!programs.empty()) {
            std::vector<AsmProgram *> raw;
            raw.reserve(programs.size());
            for (auto &program : programs) {
                raw.push_back(program.get());
            }
            WriteStream candidate;
            if (CompressWithPrograms(data, size, raw.data(), raw.size(), &candidate)) {
                return out->append(&candidate);
            }
            LogError("falling back to default compression");
        }
    }
    return CompressPlain(data, size, out);
}

bool CompressFile(const oschar *input, const oschar *output, bool tryExecutables) {
    MappedFile file;
    if (!file.open(input)) {
        return Fail("could not open input file");
    }
    WriteStream out;
    if (!CompressBuffer(file.data(), file.size(), tryExecutables, &out)) {
        return false;
    }
    if (!WriteWholeFile(output, out.data(), out.length())) {
        return Fail("could not write output file");
    }
    return true;
}

}  // namespace vxdelta
