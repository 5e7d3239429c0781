#pragma once

// Small task classes for driving the task framework from tests.

#include <QList>
#include <QStringList>

#include "composedtaskspecification.h"

/// A leaf task that ends only when the test tells it to. Optionally it
/// aborts itself (one event-loop turn later, like a network transfer) when
/// a sibling ends through canceled().
class ManualTask : public TaskSpecification {
    Q_OBJECT

public:
    ManualTask(QObject *parent, double weight, QStringList *journal = nullptr,
               QString name = QString());

    void execute() override;
    void handleOtherTaskCancelled(TaskSpecification *other) override;

    void finish() { taskFinished(); }
    void fail() { taskFailed(); }
    void abort() { taskCanceled(); }
    void report(double fraction) { setProgress(fraction); }
    void forceState(int state) { m_State = state; }
    using TaskSpecification::onOtherTaskCancelled;

    /// When set, handleOtherTaskCancelled() ends the task Failed on the next
    /// event-loop turn.
    bool m_AbortOnOtherCancel = false;
    int m_Executions = 0;
    QList<TaskSpecification *> m_OtherCancelNotices;
    /// Download figures reported by getDownloadProgress().
    quint64 m_DlDone = 0;
    quint64 m_DlTotal = 0;
    quint64 m_DlSpeed = 0;
    bool m_DlActive = false;

    void getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                             bool &downloading) override;

private:
    QStringList *m_Journal;
    QString m_Name;
};

/// A composed task whose subtasks are added by the test before execute().
class TestComposedTask : public ComposedTaskSpecification {
    Q_OBJECT

public:
    TestComposedTask(int maxParallel, QObject *parent, double weight);

    void execute() override;

    ManualTask *addManual(double weight, QStringList *journal = nullptr, QString name = QString());
    void add(TaskSpecification *child) { addSubtask(child); }
    using ComposedTaskSpecification::clearSubtasks;
    using ComposedTaskSpecification::subtasksResult;
};

/// Runs the posted events once: one turn of the event loop.
void eventLoopTurn();
