#pragma once

#include <QList>
#include <QVector>

#include "taskspecification.h"

/// A task made of an ordered list of subtasks, started one after another or
/// up to maxParallel at a time.
///
/// Its progress is the sum of its subtasks' doneFrac times its own weight;
/// their message and error signals are relayed unchanged. The first subtask
/// that ends through canceled() stops the start of further subtasks and is
/// announced to the running ones through otherTaskCancelled; the composed
/// task ends, as subtasksResult() decides, once no subtask runs any more.
///
/// Subclasses create the subtasks with this task as Qt parent, add them
/// with addSubtask() in run order, and call startSubtasks() from execute().
/// Every subtask start is deferred to the event loop through the queued
/// startNextTask() → onStartNextTask() connection, so a subtask never starts
/// inside the call stack of another one's outcome signal.
class ComposedTaskSpecification : public TaskSpecification {
    Q_OBJECT

public:
    /// `maxParallel` below 1 is taken as 1.
    ComposedTaskSpecification(int maxParallel, QObject *parent, double weight);
    ~ComposedTaskSpecification() override;

    const QList<TaskSpecification *> &subtasks() const { return m_Subtasks; }
    int maxParallel() const { return m_MaxParallel; }

signals:
    void startNextTask();

public slots:
    /// Resets every subtask and makes all of them pending again.
    void reset() override;
    /// Sums the download figures of the subtasks that know a total; the
    /// figures are added onto what the caller passed (pass zeros).
    void getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                             bool &downloading) override;
    /// Sets the own flag; while Running also cancels every subtask.
    void cancel() override;
    /// Relays the notice to this task's own subtasks.
    void handleOtherTaskCancelled(TaskSpecification *other) override;
    /// Ends this task according to subtasksResult().
    virtual void subtasksDone();
    /// Wires the child's outcome, error, progress and message signals to
    /// this task, and this task's otherTaskCancelled to the child.
    virtual void connectSubtask(TaskSpecification *child);

protected:
    /// Appends `child` to the subtasks and the pending ones, connects it and
    /// reports the new progress sum.
    void addSubtask(TaskSpecification *child);
    /// Sets Running and queues the start of up to maxParallel subtasks; with
    /// nothing pending it calls subtasksDone() at once.
    void startSubtasks();
    /// Disconnects every subtask from this task, schedules its deletion,
    /// empties all lists and clears the run's flags, so that a new set of
    /// subtasks can run after a failed or cancelled one.
    void clearSubtasks();
    /// The plain task reset (state, progress, cancel flag) without touching
    /// subtasks, for subclasses that call clearSubtasks() and build a fresh
    /// set on every execute().
    void resetTaskState() { TaskSpecification::reset(); }
    /// Failed if any subtask failed, else Canceled if any was canceled,
    /// else Finished if all finished (also when there are none), else
    /// Canceled if a cancel was requested, else Failed if a subtask ended
    /// through canceled(), else Running.
    TaskState subtasksResult() const;

private slots:
    void onStartNextTask();
    /// Brings the progress sum up to date with subtask `index`'s doneFrac.
    void onSubtaskProgress(int index);
    void onSubTaskFinished(TaskSpecification *child);
    void onSubTaskCanceled(TaskSpecification *child);

private:
    void moveToDone(TaskSpecification *child);
    void reportDoneOnce();

    QList<TaskSpecification *> m_Subtasks;
    QList<TaskSpecification *> m_Pending;
    QList<TaskSpecification *> m_Running;
    QList<TaskSpecification *> m_Done;
    /// Each subtask's doneFrac as last added into m_ProgressSum, in the
    /// order of m_Subtasks.
    QVector<double> m_ReportedFrac;
    /// Sum of m_ReportedFrac, kept up to date report by report.
    double m_ProgressSum = 0.0;
    int m_MaxParallel;
    bool m_SubtaskCanceled = false;
    bool m_DoneReported = false;
};
