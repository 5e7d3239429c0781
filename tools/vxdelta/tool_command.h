// The vxdelta front end's command interface: each subcommand parses its own
// arguments into ToolArgs and returns an exit status.
#pragma once

#include <string>
#include <vector>

namespace vxdelta_tool {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Arguments after the subcommand, split into "--name [value]" options and
// positional operands.
struct ToolArgs {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;

    bool has(const std::string &name) const;
    // The value of an option that takes one, or fallback when absent.
    std::string value(const std::string &name, const std::string &fallback) const;
};

// Splits args; valueOptions lists the options that take a value. Returns
// false (after printing why) for an unknown option or a missing value.
bool ParseToolArgs(const std::vector<std::string> &args,
                   const std::vector<std::string> &flagOptions,
                   const std::vector<std::string> &valueOptions, ToolArgs *out);

// Prints "vxdelta: <message>" to stderr and returns kExitFailure.
int ToolFailure(const std::string &message);

struct ToolCommand {
    const char *name;
    const char *usage;
    int (*run)(const std::vector<std::string> &args);
};

// The byte-diff commands: diff, apply-diff.
int RunDiffCommand(const std::vector<std::string> &args);
int RunApplyDiffCommand(const std::vector<std::string> &args);

// The container commands: compress, decompress.
int RunCompressCommand(const std::vector<std::string> &args);
int RunDecompressCommand(const std::vector<std::string> &args);

// The ensemble patch commands: patch, apply (prints "status N").
int RunPatchCommand(const std::vector<std::string> &args);
int RunApplyCommand(const std::vector<std::string> &args);

}  // namespace vxdelta_tool
