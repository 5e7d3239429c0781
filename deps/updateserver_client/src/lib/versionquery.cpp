#include "versionquery.h"

#include <climits>

#include "UpdateMessage.pb.h"

int parseVersions(const unsigned char *data, unsigned length, VersionInfo *out) {
    if (data == nullptr || out == nullptr) {
        return kParseVersionsNullArgument;
    }
    if (length > static_cast<unsigned>(INT_MAX)) {
        return kParseVersionsMalformed;
    }
    com::voxmere::update::Versions message;
    // The partial parse plus IsInitialized() rejects exactly what
    // ParseFromArray rejects, without the runtime's own error line on stderr.
    if (!message.ParsePartialFromArray(data, static_cast<int>(length)) ||
        !message.IsInitialized()) {
        return kParseVersionsMalformed;
    }
    VersionInfo info;
    info.licenseAgreementId = message.licenseagreementid();
    info.licenseAgreementIdMin = message.licenseagreementidmin();
    for (const com::voxmere::update::Channel &channel : message.channels()) {
        info.channelNames.push_back(channel.name());
        info.channelVersions.emplace(
            channel.name(), std::make_pair(channel.version_number(), channel.version_string()));
    }
    *out = std::move(info);
    return kParseVersionsOk;
}

std::int32_t versionNumberOf(const VersionInfo &info, const std::string &name) {
    const auto it = info.channelVersions.find(name);
    return it == info.channelVersions.end() ? 0 : it->second.first;
}

std::string versionStringOf(const VersionInfo &info, const std::string &name) {
    const auto it = info.channelVersions.find(name);
    return it == info.channelVersions.end() ? std::string() : it->second.second;
}
