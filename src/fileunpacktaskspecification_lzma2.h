#pragma once

#include "slowfileopspecification.h"

/// Rebuilds a file from the engine's LZMA2 container on a pool thread. The
/// engine writes the destination only after the content has passed its
/// checksum, so a failed unpack leaves an existing destination untouched.
class FileUnpackTaskSpecification_lzma2 : public SlowFileOpSpecification {
    Q_OBJECT

public:
    FileUnpackTaskSpecification_lzma2(RollbackDataList *rollback, const QString &srcFile,
                                      const QString &dstFile, QObject *parent, double weight);

protected:
    ASyncFunc *createFunc() override;
};

class FileUnpackFunc_lzma2 : public SlowFileOpFunc {
    Q_OBJECT

public:
    FileUnpackFunc_lzma2(const QString &srcFile, const QString &dstFile);

    bool run() override;

    /// The engine's DecompressFile over the UTF-8 forms of both paths.
    static bool unpackFile(const QString &srcFile, const QString &dstFile);
};
