#pragma once

#include "fastfileoptaskspecification.h"

/// Deletes a file or a directory. Deletions are never journaled.
///
/// A directory is removed with all its content when `recursive` is set;
/// otherwise only when empty, and then each ancestor that becomes empty is
/// removed too (as QDir::rmpath does). A failed removal fails the task only
/// when `mustSucceed` is set; otherwise, including for a path that does not
/// exist, the task finishes.
class FileDeleteTaskSpecification : public FastFileOpTaskSpecification {
    Q_OBJECT

public:
    FileDeleteTaskSpecification(bool mustSucceed, const QString &path, bool recursive,
                                QObject *parent, double weight);

protected:
    bool doOp() override;

private:
    bool removeDirectory();
    bool removeFile();

    bool m_MustSucceed;
    bool m_Recursive;
};
