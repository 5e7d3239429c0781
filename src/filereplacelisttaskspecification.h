#pragma once

#include <QList>

#include "composedtaskspecification.h"
#include "rollback.h"
#include "updatefilelists.h"

class Configuration;

/// The pipeline step that installs every new and changed client file: first
/// one directory task per missing destination directory (sorted, so parents
/// come first), then one FileReplaceTaskSpecification per entry, two at a
/// time. It owns the journal of the whole installation: when any step fails
/// or the user cancels, the running file tasks are let finish and then the
/// journal is undone newest first, before the step reports its outcome, so
/// the installation is back as it was (replaced files restored, written
/// files and created directories removed).
class FileReplaceListTaskSpecification : public ComposedTaskSpecification {
    Q_OBJECT

public:
    /// Neither `replaceList` (read when execute() runs) nor `configuration`
    /// is owned.
    FileReplaceListTaskSpecification(const QList<ReplaceItem> *replaceList,
                                     Configuration *configuration, QObject *parent, double weight);

    /// The journal of the installation so far.
    const RollbackDataList &rollbackData() const { return m_Rollback; }

public slots:
    void execute() override;
    /// Deletes the subtasks and undoes the journal.
    void reset() override;
    /// Undoes the journal unless every subtask finished, then ends by the
    /// subtasks' outcome.
    void subtasksDone() override;

private:
    void makeSubtasksAndStart();
    /// Adds the directory tasks; returns how many.
    int makeDirTasks();
    void makeReplaceTasks(bool haveDirTasks);

    const QList<ReplaceItem> *m_ReplaceList;
    RollbackDataList m_Rollback;
    Configuration *m_Configuration;
};
