#pragma once

#include <QObject>
#include <QRunnable>
#include <QString>

#include "taskspecification.h"

/// A worker whose run() does blocking work on a thread of the global pool.
///
/// Created without a parent by ASyncTaskSpecification::createFunc() holding
/// copies of its inputs; it reports only through its own signals, which the
/// task receives through queued connections. Its thread affinity stays with
/// the creating thread, but it is used and deleted on the pool thread, so it
/// must not have incoming connections, timers or a parent.
class ASyncFunc : public QObject {
    Q_OBJECT

public:
    ASyncFunc();

    /// The blocking work; true means success.
    virtual bool run() = 0;

signals:
    void runResult(bool res);
    void message(QString message);
    void error(QString errorMessage);
    void progress(double progress);
};

/// Pool adapter for one worker: runs it, emits its runResult from the pool
/// thread, and deletes it when the pool disposes of the runnable (auto
/// delete), i.e. on the pool thread right after run() returns.
class ASyncRun : public QRunnable {
public:
    explicit ASyncRun(ASyncFunc *func);
    ~ASyncRun() override;
    ASyncRun(const ASyncRun &) = delete;
    ASyncRun &operator=(const ASyncRun &) = delete;

    void run() override;

private:
    ASyncFunc *m_Func;
};

/// A task whose work runs as an ASyncFunc on QThreadPool::globalInstance().
///
/// Every execute() creates a fresh worker. All of the worker's message and
/// progress signals arrive before its runResult, which runDone() turns into
/// the outcome. cancel() only sets the flag: the worker runs to its end.
class ASyncTaskSpecification : public TaskSpecification {
    Q_OBJECT

public:
    ASyncTaskSpecification(QObject *parent, double weight);

public slots:
    void execute() override;
    /// Blocks until the global pool has no queued or running work (of any
    /// task), then resets; a result arriving later finds the task Idle.
    void reset() override;

protected:
    /// A new worker holding copies of this task's inputs.
    virtual ASyncFunc *createFunc() = 0;
    /// Queued connections from the worker's four signals to this task.
    virtual void connectFunc(ASyncFunc *func);
    /// While Running: taskFinished() for true, taskFailed() for false;
    /// ignored otherwise.
    virtual void runDone(bool res);

protected slots:
    void onRunResult(bool res);
    void onProgress(double progress);
};
