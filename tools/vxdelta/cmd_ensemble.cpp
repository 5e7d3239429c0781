// vxdelta patch OLD NEW OUT
// vxdelta apply OLD PATCH OUT
#include <iostream>

#include "tool_command.h"
#include "vxdelta.h"

namespace vxdelta_tool {

namespace {

bool ThreeOperands(const std::vector<std::string> &args, ToolArgs *parsed) {
    return ParseToolArgs(args, {}, {}, parsed) && parsed->positional.size() == 3;
}

}  // namespace

int RunPatchCommand(const std::vector<std::string> &args) {
    ToolArgs parsed;
    if (!ThreeOperands(args, &parsed)) {
        return kExitUsage;
    }
    if (!vxdelta::GenerateEnsemblePatchFiles(parsed.positional[0].c_str(),
                                             parsed.positional[1].c_str(),
                                             parsed.positional[2].c_str())) {
        return ToolFailure("patch generation failed");
    }
    return kExitOk;
}

int RunApplyCommand(const std::vector<std::string> &args) {
    ToolArgs parsed;
    if (!ThreeOperands(args, &parsed)) {
        return kExitUsage;
    }
    const vxdelta::Status status = vxdelta::ApplyEnsemblePatchFiles(
        parsed.positional[0].c_str(), parsed.positional[1].c_str(), parsed.positional[2].c_str());
    std::cout << "status " << static_cast<int>(status) << "\n";
    return status == vxdelta::C_OK ? kExitOk : kExitFailure;
}

}  // namespace vxdelta_tool
