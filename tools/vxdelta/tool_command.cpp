#include "tool_command.h"

#include <algorithm>
#include <iostream>

namespace vxdelta_tool {

namespace {
bool Contains(const std::vector<std::string> &list, const std::string &name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}
}  // namespace

bool ToolArgs::has(const std::string &name) const {
    return std::any_of(options.begin(), options.end(),
                       [&](const auto &option) { return option.first == name; });
}

std::string ToolArgs::value(const std::string &name, const std::string &fallback) const {
    for (const auto &option : options) {
        if (option.first == name) {
            return option.second;
        }
    }
    return fallback;
}

bool ParseToolArgs(const std::vector<std::string> &args,
                   const std::vector<std::string> &flagOptions,
                   const std::vector<std::string> &valueOptions, ToolArgs *out) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            out->positional.push_back(arg);
        } else if (Contains(flagOptions, arg)) {
            out->options.emplace_back(arg, std::string());
        } else if (Contains(valueOptions, arg) && i + 1 < args.size()) {
            out->options.emplace_back(arg, args[++i]);
        } else {
            std::cerr << "vxdelta: unknown option or missing value: " << arg << "\n";
            return false;
        }
    }
    return true;
}

int ToolFailure(const std::string &message) {
    std::cerr << "vxdelta: " << message << "\n";
    return kExitFailure;
}

}  // namespace vxdelta_tool
