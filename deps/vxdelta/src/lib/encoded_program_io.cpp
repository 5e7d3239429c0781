// Serialised form of an encoded program: stream 0 image base and origins,
// 1 ops, 2 copy bytes, 3 abs32 indexes, 4 rel32 indexes, 5 and 6 the abs32
// and rel32 address tables as deltas, 7 copy counts.
#include "encoded_program.h"

#include "log.h"

namespace vxdelta {

namespace {

enum StreamIndex : size_t {
    kBaseAndOrigins = 0,
    kOps = 1,
    kCopyBytes = 2,
    kAbs32Ix = 3,
    kRel32Ix = 4,
    kAbs32Rvas = 5,
    kRel32Rvas = 6,
    kCopyCounts = 7,
    kProgramStreams = 9,
};

bool WriteVector(const PodVector<uint32_t> &values, WriteStream *out) {
    if (!out->writeSizeVarint(values.size())) {
        return false;
    }
    for (uint32_t value : values) {
        if (!out->writeSizeVarint(value)) {
            return false;
        }
    }
    return true;
}

bool WriteByteVector(const PodVector<uint8_t> &values, WriteStream *out) {
    return out->writeSizeVarint(values.size()) && out->write(values.data(), values.size());
}

bool WriteDeltaTable(const PodVector<uint32_t> &values, WriteStream *out) {
    if (!out->writeSizeVarint(values.size())) {
        return false;
    }
    uint32_t previous = 0;
    for (uint32_t value : values) {
        if (!out->writeVarint(value - previous)) {
            return false;
        }
        previous = value;
    }
    return true;
}

// Every element takes at least one byte, so a count beyond the remaining
// bytes is malformed and never reaches the allocator.
bool ReadCount(ReadStream *in, uint32_t *count) {
    return in->readVarint(count) && *count <= in->remaining();
}

bool ReadVector(ReadStream *in, PodVector<uint32_t> *values) {
    uint32_t count = 0;
    if (!ReadCount(in, &count) || !values->reserve(count)) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t value = 0;
        if (!in->readVarint(&value)) {
            return false;
        }
        values->push_back(value);
    }
    return true;
}

bool ReadByteVector(ReadStream *in, PodVector<uint8_t> *values) {
    uint32_t count = 0;
    if (!ReadCount(in, &count)) {
        return false;
    }
    const uint8_t *bytes = in->position();
    return in->skip(count) && values->append(bytes, count);
}

bool ReadDeltaTable(ReadStream *in, PodVector<uint32_t> *values) {
    if (!ReadVector(in, values)) {
        return false;
    }
    uint32_t running = 0;
    for (uint32_t &value : *values) {
        running += value;
        value = running;
    }
    return true;
}

}  // namespace

Status WriteEncodedProgram(const EncodedProgram &program, StreamSet *set) {
    WriteStream &ops = set->stream(kOps);
    const bool ok =
        set->stream(kBaseAndOrigins).writeVarint(static_cast<uint32_t>(program.imageBase)) &&
        WriteDeltaTable(program.abs32Rvas, &set->stream(kAbs32Rvas)) &&
        WriteDeltaTable(program.rel32Rvas, &set->stream(kRel32Rvas)) &&
        WriteVector(program.origins, &set->stream(kBaseAndOrigins)) &&
        ops.reserve(ops.length() + program.ops.size() + 5) && WriteVector(program.ops, &ops) &&
        WriteVector(program.copyCounts, &set->stream(kCopyCounts)) &&
        WriteByteVector(program.copyBytes, &set->stream(kCopyBytes)) &&
        WriteVector(program.abs32Ix, &set->stream(kAbs32Ix)) &&
        WriteVector(program.rel32Ix, &set->stream(kRel32Ix));
    return ok ? C_OK : C_STREAM_ERROR;
}

Status ReadEncodedProgram(ReadStreamSet *set, EncodedProgram *program) {
    if (set->count() < kProgramStreams) {
        return C_DESERIALIZATION_FAILED;
    }
    uint32_t base = 0;
    const bool ok = set->stream(kBaseAndOrigins)->readVarint(&base) &&
                    ReadDeltaTable(set->stream(kAbs32Rvas), &program->abs32Rvas) &&
                    ReadDeltaTable(set->stream(kRel32Rvas), &program->rel32Rvas) &&
                    ReadVector(set->stream(kBaseAndOrigins), &program->origins) &&
                    ReadVector(set->stream(kOps), &program->ops) &&
                    ReadVector(set->stream(kCopyCounts), &program->copyCounts) &&
                    ReadByteVector(set->stream(kCopyBytes), &program->copyBytes) &&
                    ReadVector(set->stream(kAbs32Ix), &program->abs32Ix) &&
                    ReadVector(set->stream(kRel32Ix), &program->rel32Ix);
    if (!ok) {
        return C_DESERIALIZATION_FAILED;
    }
    for (size_t i = 0; i < kProgramStreams; ++i) {
        if (!set->stream(i)->empty()) {
            return C_DESERIALIZATION_FAILED;
        }
    }
    program->imageBase = base;
    return C_OK;
}

void LogEncodedProgramSummary(const EncodedProgram &program) {
    difflog::LogStream(difflog::LogLevel_DEBUG)
        << "EncodedProgram Summary"
        << "\n  image_base  " << program.imageBase << "\n  abs32_rvas  " << program.abs32Rvas.size()
        << "\n  rel32_rvas  " << program.rel32Rvas.size() << "\n  ops         "
        << program.ops.size() << "\n  origins     " << program.origins.size() << "\n  copy_counts "
        << program.copyCounts.size() << "\n  copy_bytes  " << program.copyBytes.size()
        << "\n  abs32_ix    " << program.abs32Ix.size() << "\n  rel32_ix    "
        << program.rel32Ix.size();
}

}  // namespace vxdelta
