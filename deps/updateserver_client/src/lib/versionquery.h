#pragma once

// The version server client: the server's URL and the parsing of its answer
// (a serialised com.voxmere.update.Versions message). Qt-free.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "vxm_build_config.h"

/// URL of the version server (HTTP, path "/vxm-client-2"), from the build.
inline constexpr const char *versionServerUrl = vxm::build::kVersionServerUrl;

/// The parsed answer of the version server.
struct VersionInfo {
    std::int32_t licenseAgreementId = 0;
    std::int32_t licenseAgreementIdMin = 0;  ///< 0 when absent
    /// The name of every channel in message order, duplicates kept.
    std::vector<std::string> channelNames;
    /// One entry per distinct name: (version number, version text) of its
    /// first occurrence.
    std::map<std::string, std::pair<std::int32_t, std::string>> channelVersions;
};

/// Result codes of parseVersions().
enum ParseVersionsResult {
    kParseVersionsOk = 0,
    kParseVersionsNullArgument = 1,
    kParseVersionsMalformed = 2,
};

/// Parses `length` bytes at `data` as exactly one Versions message.
/// Returns 0 and fills `*out` on success; 1 when `data` or `out` is null;
/// 2 when the bytes are not a complete message (required fields missing,
/// truncated or malformed). `*out` is left untouched unless 0 is returned.
int parseVersions(const unsigned char *data, unsigned length, VersionInfo *out);

/// The version number of channel `name`; 0 when there is no such channel.
std::int32_t versionNumberOf(const VersionInfo &info, const std::string &name);

/// The version text of channel `name`; empty when there is no such channel.
std::string versionStringOf(const VersionInfo &info, const std::string &name);
