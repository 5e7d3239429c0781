#pragma once

#include "slowfileopspecification.h"

/// Copies a file on a pool thread. The copy never overwrites: an existing
/// destination makes it fail and is left as it is.
class FileCopyTaskSpecification : public SlowFileOpSpecification {
    Q_OBJECT

public:
    FileCopyTaskSpecification(RollbackDataList *rollback, const QString &srcFile,
                              const QString &dstFile, QObject *parent, double weight);

protected:
    ASyncFunc *createFunc() override;
};

class FileCopyFunc : public SlowFileOpFunc {
    Q_OBJECT

public:
    FileCopyFunc(const QString &srcFile, const QString &dstFile);

    /// QFile::copy of the source to the destination.
    bool run() override;
};
