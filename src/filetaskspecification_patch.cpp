#include "filetaskspecification_patch.h"

#include <QDebug>

namespace {

/// The debug line for an engine status; null for those without one.
const char *statusText(int status) {
    switch (status) {
        case 5:
            return "Not a vxdelta patch";
        case 6:
            return "Wrong version patch";
        case 7:
            return "Corrupt patch";
        case 20:
            return "Stream error (likely out of memory or disk space)";
        case 25:
            return "Disassembly failed (could be because of memory issues)";
        default:
            return nullptr;
    }
}

}  // namespace

FileTaskSpecification_patch::FileTaskSpecification_patch(RollbackDataList *rollback,
                                                         const QString &srcFile,
                                                         const QString &patchFile,
                                                         const QString &dstFile, QObject *parent,
                                                         double weight)
    : SlowFileOpSpecification(QStringLiteral("Could not patch '%1' to '%2'").arg(srcFile, dstFile),
                              rollback, srcFile, patchFile, dstFile, parent, weight) {
    qDebug() << "FileTaskSpecification_patch"
             << "srcFile:" << srcFile << "patchFile:" << patchFile << "dstFile:" << dstFile;
}

ASyncFunc *FileTaskSpecification_patch::createFunc() {
    return new FileFuncPatch(m_SrcFile, m_PatchFile, m_DstFile);
}

FileFuncPatch::FileFuncPatch(const QString &srcFile, const QString &patchFile,
                             const QString &dstFile)
    : SlowFileOpFunc(srcFile, patchFile, dstFile) {}

bool FileFuncPatch::run() {
    return patchFile(m_SrcFile, m_PatchFile, m_DstFile);
}

bool FileFuncPatch::patchFile(const QString &srcFile, const QString &patchFile,
                              const QString &dstFile) {
    const QByteArray oldPath = srcFile.toUtf8();
    const QByteArray patchPath = patchFile.toUtf8();
    const QByteArray newPath = dstFile.toUtf8();
    const bool res =
        ApplyEnsemblePatch(oldPath.constData(), patchPath.constData(), newPath.constData());
    qDebug() << "Patch result" << res;
    return res;
}

bool ApplyEnsemblePatch(const vxdelta::oschar *oldFile, const vxdelta::oschar *patchFile,
                        const vxdelta::oschar *newFile) {
    const int status =
        static_cast<int>(vxdelta::ApplyEnsemblePatchFiles(oldFile, patchFile, newFile));
    qDebug() << "ApplyEnsemblePatch status =" << status << oldFile << patchFile << newFile;
    if (const char *text = statusText(status)) {
        qDebug() << text;
    }
    return status == 1;
}
