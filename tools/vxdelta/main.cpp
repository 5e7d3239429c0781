// vxdelta: command-line front end of the patch and compression engine.
// Exit status 0 on success, 1 on failure, 2 on bad usage; -v echoes the
// engine's diagnostic lines to stderr.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "log.h"
#include "tool_command.h"

namespace {

using vxdelta_tool::ToolCommand;

const ToolCommand kCommands[] = {
    {"compress", "compress [--exe] IN OUT", vxdelta_tool::RunCompressCommand},
    {"decompress", "decompress IN OUT", vxdelta_tool::RunDecompressCommand},
    {"diff", "diff [--method 0|1|2] [--header] OLD NEW OUT", vxdelta_tool::RunDiffCommand},
    {"apply-diff", "apply-diff [--header] OLD DIFF OUT", vxdelta_tool::RunApplyDiffCommand},
    {"patch", "patch OLD NEW OUT", vxdelta_tool::RunPatchCommand},
    {"apply", "apply OLD PATCH OUT", vxdelta_tool::RunApplyCommand},
};

// Echoes every engine diagnostic line to stderr.
class StderrLog : public difflog::LogBase {
public:
    void flush() override { std::cerr.flush(); }
    void write(const std::string &, int, const std::string &, uint64_t, const std::string &,
               const std::string &line) override {
        std::cerr << line << "\n";
    }
};

int Usage() {
    std::cerr << "usage: vxdelta [-v] COMMAND ARGS...\ncommands:\n";
    for (const ToolCommand &command : kCommands) {
        std::cerr << "  vxdelta " << command.usage << "\n";
    }
    return vxdelta_tool::kExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
    int first = 1;
    bool verbose = false;
    if (first < argc && std::strcmp(argv[first], "-v") == 0) {
        verbose = true;
        ++first;
    }
    if (first >= argc) {
        return Usage();
    }
    StderrLog *echo = verbose ? new StderrLog : nullptr;
    const std::string name = argv[first];
    const std::vector<std::string> args(argv + first + 1, argv + argc);
    int status = -1;
    for (const ToolCommand &command : kCommands) {
        if (name == command.name) {
            status = command.run(args);
            if (status == vxdelta_tool::kExitUsage) {
                std::cerr << "usage: vxdelta " << command.usage << "\n";
            }
        }
    }
    delete echo;
    return status < 0 ? Usage() : status;
}
