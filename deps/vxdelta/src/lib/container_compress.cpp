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
#include "file_io.h"
#include "lzma2_section.h"
#include "vxdelta.h"

namespace vxdelta {

namespace {

constexpr uint32_t kFatMagic = 0xCAFEBABE;
constexpr size_t kMinFatFileSize = 4096;
constexpr uint32_t kMaxFatArchitectures = 8;
constexpr size_t kFatHeaderSize = 8;
constexpr size_t kFatArchSize = 20;

uint32_t BigEndian32(const uint8_t *p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

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
    const bool fat = size >= kMinFatFileSize && BigEndian32(data) == kFatMagic;
    const uint32_t archs = fat ? BigEndian32(data + 4) : 0;
    if (fat && archs <= kMaxFatArchitectures) {
        for (uint32_t i = 0; i < archs; ++i) {
            const uint8_t *arch = data + kFatHeaderSize + i * kFatArchSize;
            const uint32_t offset = BigEndian32(arch + 8);
            const uint32_t length = BigEndian32(arch + 12);
            std::unique_ptr<AsmProgram> program;
            if (offset <= size && length <= size - offset &&
                DisassembleExecutable(data + offset, length, &program) == C_OK) {
                programs.push_back(std::move(program));
            }
        }
        return programs;
    }
    std::unique_ptr<AsmProgram> program;
    if (DisassembleExecutable(data, size, &program) == C_OK) {
        programs.push_back(std::move(program));
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
