// vxdelta compress [--exe] IN OUT
// vxdelta decompress IN OUT
#include "tool_command.h"
#include "vxdelta.h"

namespace vxdelta_tool {

int RunCompressCommand(const std::vector<std::string> &args) {
    ToolArgs parsed;
    if (!ParseToolArgs(args, {"--exe"}, {}, &parsed) || parsed.positional.size() != 2) {
        return kExitUsage;
    }
    if (!vxdelta::CompressFile(parsed.positional[0].c_str(), parsed.positional[1].c_str(),
                               parsed.has("--exe"))) {
        return ToolFailure("compression failed");
    }
    return kExitOk;
}

int RunDecompressCommand(const std::vector<std::string> &args) {
    ToolArgs parsed;
    if (!ParseToolArgs(args, {}, {}, &parsed) || parsed.positional.size() != 2) {
        return kExitUsage;
    }
    if (!vxdelta::DecompressFile(parsed.positional[0].c_str(), parsed.positional[1].c_str())) {
        return ToolFailure("decompression failed");
    }
    return kExitOk;
}

}  // namespace vxdelta_tool
