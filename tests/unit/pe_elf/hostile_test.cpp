// Truncated and corrupted copies of every fixture: detection and
// disassembly reject them or produce a program, never read outside the
// copy (each copy lives in an exactly sized heap block, so the sanitizer
// build catches any stray read), and whatever the container stores gives
// the copy back.
#include <gtest/gtest.h>

#include <set>

#include "container.h"
#include "disassembler.h"
#include "pe_elf_support.h"

namespace pe_elf_test {
namespace {

struct Outcome {
    size_t disassembled = 0;
    size_t variants = 0;
};

// Runs one variant; restore: also checks the container round trip.
void Exercise(const Bytes &variant, bool restore, Outcome *outcome) {
    const std::unique_ptr<uint8_t[]> copy(new uint8_t[variant.size() + (variant.empty() ? 1 : 0)]);
    std::copy(variant.begin(), variant.end(), copy.get());
    ++outcome->variants;
    std::unique_ptr<vxdelta::AsmProgram> program;
    const vxdelta::Status status =
        vxdelta::DisassembleExecutable(copy.get(), variant.size(), &program);
    ASSERT_TRUE(status == vxdelta::C_OK || status == vxdelta::C_INPUT_NOT_RECOGNIZED ||
                status == vxdelta::C_DISASSEMBLY_FAILED)
        << status;
    if (status != vxdelta::C_OK) {
        return;
    }
    ++outcome->disassembled;
    if (restore) {
        vxdelta::WriteStream container;
        ASSERT_TRUE(vxdelta::CompressBuffer(copy.get(), variant.size(), true, &container));
        vxdelta::WriteStream restored;
        ASSERT_TRUE(vxdelta::DecompressBuffer(container.data(), container.length(), &restored));
        ASSERT_TRUE(vxdelta_test::Contents(restored) == variant);
    } else {
        bool ok = false;
        Reassemble(variant, &ok);
    }
}

class Hostile : public ::testing::TestWithParam<FixtureFile> {};

TEST_P(Hostile, TruncatedCopies) {
    const Bytes image = LoadFile(GetParam().path);
    std::set<size_t> sizes = {0, 1, 4, 51, 52, 63, 64, 65, image.size() - 1};
    const size_t step = std::max<size_t>(1, image.size() / 48);
    for (size_t size = 0; size < image.size(); size += step) {
        sizes.insert(size);
    }
    Outcome outcome;
    for (const size_t size : sizes) {
        Exercise(Bytes(image.begin(), image.begin() + size), size % 4 == 1, &outcome);
    }
    EXPECT_EQ(outcome.variants, sizes.size());
}

// Overwrites count words with values that stress bounds checks: offsets
// and sizes near the file size and the type limits.
Bytes Corrupt(const Bytes &image, uint32_t seed, size_t window) {
    Bytes variant = image;
    const Bytes random = vxdelta_test::RandomBytes(64, seed);
    const uint32_t specials[] = {0,
                                 1,
                                 0xFFFFFFFF,
                                 0x7FFFFFFF,
                                 0x80000000,
                                 static_cast<uint32_t>(image.size()),
                                 static_cast<uint32_t>(image.size() - 1),
                                 0xFFFF,
                                 8,
                                 24};
    const size_t count = 1 + random[0] % 3;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = (Get32(random, 4 + 8 * i) % (window - 4)) & ~size_t{1};
        const uint32_t value =
            random[8 + 8 * i] < 128 ? specials[random[9 + 8 * i] % 10] : Get32(random, 12 + 8 * i);
        if (random[10 + 8 * i] & 1) {
            Put16(&variant, at, static_cast<uint16_t>(value));
        } else {
            Put32(&variant, at, value);
        }
    }
    return variant;
}

TEST_P(Hostile, CorruptedCopies) {
    const Bytes image = LoadFile(GetParam().path);
    // Headers and tables of the small fixtures lie in their first and last
    // kilobytes; the whole file is a target too.
    const size_t windows[] = {std::min<size_t>(image.size(), 1024), image.size()};
    Outcome outcome;
    for (uint32_t seed = 1; seed <= 240; ++seed) {
        Exercise(Corrupt(image, seed, windows[seed % 2]), seed % 8 == 0, &outcome);
    }
    // Most single-field faults leave an image that still disassembles:
    // the deep paths ran.
    EXPECT_GT(outcome.disassembled, outcome.variants / 4);
}

std::vector<FixtureFile> SmallFixtures() {
    std::vector<FixtureFile> files;
    for (const FixtureFile &file : AllFixtureFiles()) {
        if (file.label.size() > 3 && file.label.compare(file.label.size() - 3, 3, "_v1") == 0) {
            files.push_back(file);
        }
    }
    return files;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Hostile, ::testing::ValuesIn(SmallFixtures()),
                         [](const ::testing::TestParamInfo<FixtureFile> &info) {
                             return info.param.label;
                         });

}  // namespace
}  // namespace pe_elf_test
