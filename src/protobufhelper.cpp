#include "protobufhelper.h"

QPair<QString, QString> versionForChannel(const UpdateVersions &versions, int channel) {
    static const char *const kNames[] = {"stable", "beta", "alpha"};
    if (channel < 0 || channel > 2) {
        return {};
    }
    return versions.value(QString::fromLatin1(kNames[channel]));
}
