// Helpers shared by the engine tests: byte vectors, hand-built encodings and
// a sink that records the engine's diagnostic messages.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "log.h"
#include "streams.h"

namespace vxdelta_test {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string &text);
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Varint(uint32_t value);
Bytes SignedVarint(int32_t value);
Bytes Contents(const vxdelta::WriteStream &stream);
vxdelta::ReadStream View(const Bytes &bytes);
// Deterministic pseudo-random bytes.
Bytes RandomBytes(size_t size, uint32_t seed);
// One LZMA2 section holding data, as the engine's encoder writes it.
Bytes Section(const Bytes &data);
// A serialised stream set of the given streams (count = streams.size()).
Bytes SerializedSet(const std::vector<Bytes> &streams);

// Records the message text of every diagnostic while it exists.
class MessageLog : public difflog::LogBase {
public:
    void flush() override {}
    void write(const std::string &message, int level, const std::string &, uint64_t,
               const std::string &, const std::string &) override {
        messages.push_back(message);
        levels.push_back(level);
    }
    std::vector<std::string> messages;
    std::vector<int> levels;
};

// Reads and writes files in the test's private temporary directory.
std::string TempPath(const std::string &name);
void WriteFile(const std::string &path, const Bytes &data);
Bytes ReadFile(const std::string &path);

}  // namespace vxdelta_test
