#pragma once

#include "slowfileopspecification.h"

#include "vxdelta.h"

/// Applies an ensemble patch to an old file on a pool thread, writing the
/// new file. What a failure leaves at the destination is the engine's
/// matter; the engine writes only a result that passed its checks.
class FileTaskSpecification_patch : public SlowFileOpSpecification {
    Q_OBJECT

public:
    FileTaskSpecification_patch(RollbackDataList *rollback, const QString &srcFile,
                                const QString &patchFile, const QString &dstFile, QObject *parent,
                                double weight);

protected:
    ASyncFunc *createFunc() override;
};

class FileFuncPatch : public SlowFileOpFunc {
    Q_OBJECT

public:
    FileFuncPatch(const QString &srcFile, const QString &patchFile, const QString &dstFile);

    bool run() override;

    /// ApplyEnsemblePatch over the UTF-8 forms of the three paths.
    static bool patchFile(const QString &srcFile, const QString &patchFile, const QString &dstFile);
};

/// The engine's ApplyEnsemblePatchFiles with its status written to the debug
/// log (with a reason for the statuses that have one); true for success only.
bool ApplyEnsemblePatch(const vxdelta::oschar *oldFile, const vxdelta::oschar *patchFile,
                        const vxdelta::oschar *newFile);
