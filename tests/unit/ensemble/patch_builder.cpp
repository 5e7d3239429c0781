#include "patch_builder.h"

#include <stdexcept>

#include "bytediff.h"
#include "checksum.h"
#include "ensemble_format.h"
#include "lzma2_section.h"

namespace ensemble_test {

using vxdelta_test::Concat;
using vxdelta_test::Varint;

Bytes HandPatch::header() const {
    return Concat({Varint(magic), Varint(version), Varint(sourceChecksum), Varint(targetChecksum),
                   Varint(finalInputSize)});
}

Bytes HandPatch::bytes() const {
    return withSectionContent(vxdelta_test::SerializedSet(body));
}

Bytes HandPatch::withSectionContent(const Bytes &content) const {
    return Concat({header(), vxdelta_test::Section(content)});
}

Bytes DiffOf(const Bytes &from, const Bytes &to) {
    vxdelta::WriteStream out;
    if (!vxdelta::GenerateByteDiff(vxdelta_test::View(from), vxdelta_test::View(to), &out, false,
                                   vxdelta::kByteDiffUncompressed)) {
        throw std::runtime_error("diff generation failed");
    }
    return vxdelta_test::Contents(out);
}

Bytes FlatSet(std::vector<Bytes> streams) {
    streams.resize(vxdelta::kMaxStreamSetStreams);
    return vxdelta_test::SerializedSet(streams);
}

Bytes PredictedParameters(size_t n) {
    return FlatSet({Bytes(n, 0)});
}

Bytes Descriptions(const std::vector<ElementDescription> &elements) {
    Bytes out = Varint(static_cast<uint32_t>(elements.size()));
    for (const ElementDescription &element : elements) {
        out = Concat({out, Varint(element.kind)});
    }
    for (const ElementDescription &element : elements) {
        out = Concat({out, Varint(element.offset), Varint(element.length)});
    }
    return out;
}

HandPatch PlainPatch(const Bytes &old, const Bytes &newData) {
    HandPatch patch;
    patch.magic = vxdelta::kEnsembleMagic;
    patch.version = vxdelta::kEnsembleVersion;
    patch.sourceChecksum = vxdelta::FileChecksum(old.data(), old.size());
    patch.targetChecksum = vxdelta::FileChecksum(newData.data(), newData.size());
    patch.finalInputSize = static_cast<uint32_t>(old.size());
    const Bytes empty = PredictedParameters(0);
    patch.body = {Descriptions({}), DiffOf(empty, empty), DiffOf(empty, empty),
                  DiffOf(old, newData)};
    return patch;
}

HandPatch ElementPatch(const Bytes &old, const Bytes &newData,
                       const std::vector<ElementDescription> &elements) {
    HandPatch patch = PlainPatch(old, newData);
    const Bytes predicted = PredictedParameters(elements.size());
    patch.body[vxdelta::kBodyDescriptions] = Descriptions(elements);
    patch.body[vxdelta::kBodyParameterCorrection] = DiffOf(predicted, predicted);
    return patch;
}

int ElementsIn(const Bytes &patch) {
    vxdelta::ReadStream in = vxdelta_test::View(patch);
    vxdelta::EnsembleHeader header;
    vxdelta::WriteStream body;
    vxdelta::ReadStreamSet set;
    uint32_t count = 0;
    if (vxdelta::ReadEnsembleHeader(&in, &header) != vxdelta::C_OK ||
        !vxdelta::DecodeLzma2Section(&in, &body) || !set.init(body.data(), body.length()) ||
        set.count() < vxdelta::kBodyStreams ||
        !set.stream(vxdelta::kBodyDescriptions)->readVarint(&count)) {
        return -1;
    }
    return static_cast<int>(count);
}

}  // namespace ensemble_test
