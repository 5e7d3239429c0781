#pragma once

#include "slowfileopspecification.h"

/// How an unpacked destination appears. In place, the engine writes the
/// destination itself, which a failed or interrupted write can leave short.
/// When complete, the content is written beside the destination and renamed
/// over it once whole, so that the destination is either the old file or the
/// complete new one: for files whose presence alone a later run trusts.
enum class UnpackPublish { InPlace, WhenComplete };

/// Rebuilds a file from the engine's LZMA2 container on a pool thread. The
/// engine writes the destination only after the content has passed its
/// checksum, so an unpack of damaged data leaves an existing destination
/// untouched.
class FileUnpackTaskSpecification_lzma2 : public SlowFileOpSpecification {
    Q_OBJECT

public:
    FileUnpackTaskSpecification_lzma2(RollbackDataList *rollback, const QString &srcFile,
                                      const QString &dstFile, QObject *parent, double weight,
                                      UnpackPublish publish = UnpackPublish::InPlace);

protected:
    ASyncFunc *createFunc() override;

private:
    UnpackPublish m_Publish;
};

class FileUnpackFunc_lzma2 : public SlowFileOpFunc {
    Q_OBJECT

public:
    FileUnpackFunc_lzma2(const QString &srcFile, const QString &dstFile,
                         UnpackPublish publish = UnpackPublish::InPlace);

    bool run() override;

    /// The engine's DecompressFile over the UTF-8 forms of both paths.
    static bool unpackFile(const QString &srcFile, const QString &dstFile);

private:
    /// Unpacks into `dstFile` + ".unpacking" and renames that over `dstFile`
    /// (replacing it) once written; on failure removes the side file and
    /// leaves `dstFile` as it was.
    static bool unpackFileWhole(const QString &srcFile, const QString &dstFile);

    const UnpackPublish m_Publish;
};
