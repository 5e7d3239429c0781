#pragma once

#include "slowfileopspecification.h"

/// Decompresses a gzip-compressed file on a pool thread. A source without a
/// gzip header is copied unchanged. On failure no destination file is left,
/// not even one that existed before.
class FileUnpackTaskSpecification_zip : public SlowFileOpSpecification {
    Q_OBJECT

public:
    FileUnpackTaskSpecification_zip(RollbackDataList *rollback, const QString &srcFile,
                                    const QString &dstFile, QObject *parent, double weight);

protected:
    ASyncFunc *createFunc() override;
};

class FileUnpackFunc_Zip : public SlowFileOpFunc {
    Q_OBJECT

public:
    FileUnpackFunc_Zip(const QString &srcFile, const QString &dstFile);

    /// unzipFile(), removing the destination when it fails.
    bool run() override;

    /// Writes the decompressed content of `srcFile` to `dstFile` (created or
    /// truncated at once). False when a file cannot be opened, the stream is
    /// damaged or ends early, or a write fails; the destination may then
    /// hold a partial result, or have been removed.
    static bool unzipFile(const QString &dstFile, const QString &srcFile);
};
