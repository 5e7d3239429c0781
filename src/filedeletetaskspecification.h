#pragma once

#include <QList>

#include "composedtaskspecification.h"
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

class Configuration;
struct DeleteItem;

/// The pipeline step that removes the files and directories the product ini
/// lists for deletion, one after another in list order, each resolved
/// against the installation directory. A deletion that fails never fails
/// this task.
class FileDeleteListTaskSpecification : public ComposedTaskSpecification {
    Q_OBJECT

public:
    /// Neither the list nor the configuration is owned; both are read when
    /// the task executes.
    FileDeleteListTaskSpecification(const QList<DeleteItem> *deleteList,
                                    Configuration *configuration, QObject *parent, double weight);

public slots:
    void execute() override;
    /// Drops the subtasks so that the next execute() builds them afresh.
    void reset() override;

private:
    void makeSubtasksAndStart();

    const QList<DeleteItem> *m_DeleteList;
    Configuration *m_Configuration;
};
