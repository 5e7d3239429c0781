// vxdelta diff [--method 0|1|2] [--header] OLD NEW OUT
// vxdelta apply-diff [--header] OLD DIFF OUT
#include "bytediff.h"
#include "file_io.h"
#include "tool_command.h"

namespace vxdelta_tool {

namespace {

bool ParseMethod(const std::string &text, vxdelta::ByteDiffMethod *method) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '2') {
        return false;
    }
    *method = static_cast<vxdelta::ByteDiffMethod>(text[0] - '0');
    return true;
}

}  // namespace

int RunDiffCommand(const std::vector<std::string> &args) {
    ToolArgs parsed;
    vxdelta::ByteDiffMethod method = vxdelta::kByteDiffSingleSection;
    if (!ParseToolArgs(args, {"--header"}, {"--method"}, &parsed) ||
        parsed.positional.size() != 3 || !ParseMethod(parsed.value("--method", "2"), &method)) {
        return kExitUsage;
    }
    vxdelta::MappedFile old;
    vxdelta::MappedFile nw;
    if (!old.open(parsed.positional[0].c_str())) {
        return ToolFailure("cannot read " + parsed.positional[0]);
    }
    if (!nw.open(parsed.positional[1].c_str())) {
        return ToolFailure("cannot read " + parsed.positional[1]);
    }
    vxdelta::WriteStream out;
    if (!vxdelta::GenerateByteDiff(vxdelta::ReadStream(old.data(), old.size()),
                                   vxdelta::ReadStream(nw.data(), nw.size()), &out,
                                   parsed.has("--header"), method)) {
        return ToolFailure("diff generation failed");
    }
    if (!vxdelta::WriteWholeFile(parsed.positional[2].c_str(), out.data(), out.length())) {
        return ToolFailure("cannot write " + parsed.positional[2]);
    }
    return kExitOk;
}

int RunApplyDiffCommand(const std::vector<std::string> &args) {
    ToolArgs parsed;
    if (!ParseToolArgs(args, {"--header"}, {}, &parsed) || parsed.positional.size() != 3) {
        return kExitUsage;
    }
    vxdelta::MappedFile old;
    vxdelta::MappedFile diff;
    if (!old.open(parsed.positional[0].c_str())) {
        return ToolFailure("cannot read " + parsed.positional[0]);
    }
    if (!diff.open(parsed.positional[1].c_str())) {
        return ToolFailure("cannot read " + parsed.positional[1]);
    }
    vxdelta::ReadStream patch(diff.data(), diff.size());
    vxdelta::WriteStream out;
    if (!vxdelta::ApplyByteDiff(vxdelta::ReadStream(old.data(), old.size()), &patch, &out,
                                parsed.has("--header"))) {
        return ToolFailure("could not apply diff");
    }
    if (!vxdelta::WriteWholeFile(parsed.positional[2].c_str(), out.data(), out.length())) {
        return ToolFailure("cannot write " + parsed.positional[2]);
    }
    return kExitOk;
}

}  // namespace vxdelta_tool
