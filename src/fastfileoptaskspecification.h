#pragma once

#include <QString>

#include "rollback.h"
#include "taskspecification.h"

/// Base of the file-system operations that finish in a moment and therefore
/// run on the main thread inside execute(): the task is Running, then
/// Finished or Failed before execute() returns.
class FastFileOpTaskSpecification : public TaskSpecification {
    Q_OBJECT

public:
    /// `rollback` is the journal to append to (null = record nothing); it is
    /// not owned.
    FastFileOpTaskSpecification(const QString &path, RollbackDataList *rollback, QObject *parent,
                                double weight);

    const QString &path() const { return m_Path; }

public slots:
    /// Runs doOp() and ends the task by its result.
    void execute() override;

protected:
    /// Performs the operation, emits its message lines and returns success.
    virtual bool doOp() = 0;
    /// Appends a copy of `entry` to the journal, if there is one.
    void addRollback(const RollbackData &entry);

    RollbackDataList *m_Rollback;
    QString m_Path;
};
