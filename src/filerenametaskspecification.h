#pragma once

#include "fastfileoptaskspecification.h"

/// Renames `from` to `to` (the task's path), recording FILE_RENAME so that
/// the journal renames it back. A missing directory of the new name is
/// created first (one level, neither checked nor recorded). Like
/// QFile::rename, it never replaces an existing file.
class FileRenameTaskSpecification : public FastFileOpTaskSpecification {
    Q_OBJECT

public:
    FileRenameTaskSpecification(const QString &from, const QString &to, RollbackDataList *rollback,
                                QObject *parent, double weight);

protected:
    bool doOp() override;

private:
    QString m_From;
};
