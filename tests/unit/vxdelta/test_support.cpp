#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "lzma2_section.h"
#include "varint.h"

// Allocation-failure tests ask for absurd sizes; sanitizers must report
// them as failed allocations rather than abort.
// The sanitizer runtime looks the option hook up by this exact name.
extern "C" const char *__asan_default_options() {  // NOLINT(bugprone-reserved-identifier)
    return "allocator_may_return_null=1";
}

namespace vxdelta_test {

Bytes ToBytes(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes Varint(uint32_t value) {
    uint8_t buffer[vxdelta::kMaxVarintBytes];
    const size_t n = vxdelta::EncodeVarint(value, buffer);
    return Bytes(buffer, buffer + n);
}

Bytes SignedVarint(int32_t value) {
    return Varint(vxdelta::ZigzagEncode(value));
}

Bytes Contents(const vxdelta::WriteStream &stream) {
    return Bytes(stream.data(), stream.data() + stream.length());
}

vxdelta::ReadStream View(const Bytes &bytes) {
    return vxdelta::ReadStream(bytes.data(), bytes.size());
}

Bytes RandomBytes(size_t size, uint32_t seed) {
    Bytes out(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t &b : out) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state);
    }
    return out;
}

Bytes Section(const Bytes &data) {
    vxdelta::WriteStream out;
    if (!vxdelta::EncodeLzma2Section(data.data(), data.size(), &out)) {
        throw std::runtime_error("section encoding failed");
    }
    return Contents(out);
}

Bytes SerializedSet(const std::vector<Bytes> &streams) {
    Bytes out =
        Concat({Varint(vxdelta::kStreamSetVersion), Varint(static_cast<uint32_t>(streams.size()))});
    for (const Bytes &s : streams) {
        const Bytes length = Varint(static_cast<uint32_t>(s.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    for (const Bytes &s : streams) {
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

std::string TempPath(const std::string &name) {
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/" + name;
}

void WriteFile(const std::string &path, const Bytes &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

Bytes ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace vxdelta_test
