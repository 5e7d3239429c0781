#include "releasecodec.h"

#include <QByteArray>

#include "vxdelta.h"

// Set by the build: whether the engine defines the container yet. Until it
// does, a build of the tool can do everything but compress.
#ifndef VXM_RELEASE_HAVE_CONTAINER
#define VXM_RELEASE_HAVE_CONTAINER 0
#endif

bool ReleaseCodec::available() {
    return VXM_RELEASE_HAVE_CONTAINER != 0;
}

#if VXM_RELEASE_HAVE_CONTAINER
bool ReleaseCodec::compressFile(const QString &input, const QString &output, bool tryExecutables) {
    const QByteArray in = input.toUtf8();
    const QByteArray out = output.toUtf8();
    return vxdelta::CompressFile(in.constData(), out.constData(), tryExecutables);
}

bool ReleaseCodec::decompressFile(const QString &input, const QString &output) {
    const QByteArray in = input.toUtf8();
    const QByteArray out = output.toUtf8();
    return vxdelta::DecompressFile(in.constData(), out.constData());
}

bool ReleaseCodec::generatePatch(const QString &oldFile, const QString &newFile,
                                 const QString &patch) {
    const QByteArray old = oldFile.toUtf8();
    const QByteArray nw = newFile.toUtf8();
    const QByteArray out = patch.toUtf8();
    return vxdelta::GenerateEnsemblePatchFiles(old.constData(), nw.constData(), out.constData());
}

bool ReleaseCodec::applyPatch(const QString &oldFile, const QString &patch, const QString &output) {
    const QByteArray old = oldFile.toUtf8();
    const QByteArray in = patch.toUtf8();
    const QByteArray out = output.toUtf8();
    return vxdelta::ApplyEnsemblePatchFiles(old.constData(), in.constData(), out.constData()) ==
           vxdelta::C_OK;
}
#else
bool ReleaseCodec::compressFile(const QString &, const QString &, bool) {
    return false;
}

bool ReleaseCodec::decompressFile(const QString &, const QString &) {
    return false;
}

bool ReleaseCodec::generatePatch(const QString &, const QString &, const QString &) {
    return false;
}

bool ReleaseCodec::applyPatch(const QString &, const QString &, const QString &) {
    return false;
}
#endif
