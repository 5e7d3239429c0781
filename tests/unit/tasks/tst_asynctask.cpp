// ASyncTaskSpecification with test workers on the global thread pool.

#include <QAtomicInt>
#include <QAtomicPointer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include "asynctaskspecification.h"
#include "testtasks.h"

namespace {

/// What one test worker does, and what it observed. Shared between the
/// test (main thread) and the worker (pool thread) only through atomics
/// and semaphores, or before the worker starts.
struct WorkerScript {
    WorkerScript() = default;
    // The worker is deleted on the pool thread after its result has been
    // delivered and touches the script from its destructor: a script on a
    // test's stack must outlive every worker.
    ~WorkerScript() { QThreadPool::globalInstance()->waitForDone(); }
    WorkerScript(const WorkerScript &) = delete;
    WorkerScript &operator=(const WorkerScript &) = delete;

    QStringList messages;
    QStringList errors;
    QList<double> progress;
    bool result = true;
    QSemaphore *started = nullptr;  ///< released when run() begins
    QSemaphore *gate = nullptr;     ///< acquired before run() ends
    unsigned long lingerMs = 0;     ///< sleep before returning
    QAtomicInt runsDone{0};
    QAtomicInt destroyed{0};
    QAtomicPointer<QThread> runThread{nullptr};
};

class ScriptedFunc : public ASyncFunc {
    Q_OBJECT

public:
    explicit ScriptedFunc(WorkerScript *script)
        : m_Script(script),
          m_Messages(script->messages),
          m_Errors(script->errors),
          m_Progress(script->progress),
          m_Result(script->result) {}
    ~ScriptedFunc() override { m_Script->destroyed.ref(); }
    ScriptedFunc(const ScriptedFunc &) = delete;
    ScriptedFunc &operator=(const ScriptedFunc &) = delete;

    bool run() override {
        m_Script->runThread.storeRelease(QThread::currentThread());
        if (m_Script->started != nullptr) {
            m_Script->started->release();
        }
        for (const QString &line : qAsConst(m_Messages)) {
            emit message(line);
        }
        for (const QString &line : qAsConst(m_Errors)) {
            emit error(line);
        }
        for (double p : qAsConst(m_Progress)) {
            emit progress(p);
        }
        if (m_Script->gate != nullptr) {
            m_Script->gate->acquire();
        }
        QThread::msleep(m_Script->lingerMs);
        m_Script->runsDone.ref();
        return m_Result;
    }

private:
    WorkerScript *m_Script;
    const QStringList m_Messages;
    const QStringList m_Errors;
    const QList<double> m_Progress;
    const bool m_Result;
};

class ScriptedTask : public ASyncTaskSpecification {
    Q_OBJECT

public:
    ScriptedTask(QObject *parent, double weight, WorkerScript *script)
        : ASyncTaskSpecification(parent, weight), m_Script(script) {}

    int m_FuncsCreated = 0;

protected:
    ASyncFunc *createFunc() override {
        if (m_Script == nullptr) {
            return nullptr;
        }
        ++m_FuncsCreated;
        return new ScriptedFunc(m_Script);
    }

private:
    WorkerScript *m_Script;
};

/// Records the task's signals in arrival order.
QStringList *recordSignals(TaskSpecification *task, QStringList *log) {
    QObject::connect(task, &TaskSpecification::message, task,
                     [log](const QString &m) { log->append("message " + m); });
    QObject::connect(task, &TaskSpecification::error, task,
                     [log](const QString &e) { log->append("error " + e); });
    QObject::connect(task, &TaskSpecification::updateProgress, task,
                     [log](double p) { log->append("progress " + QString::number(p)); });
    QObject::connect(task, &TaskSpecification::finished, task,
                     [log](TaskSpecification *) { log->append("finished"); });
    QObject::connect(task, &TaskSpecification::canceled, task,
                     [log](TaskSpecification *) { log->append("canceled"); });
    return log;
}

}  // namespace

class ASyncTaskTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QThreadPool::globalInstance()->waitForDone(); }
    void workerSignalsArriveBeforeOutcome_data();
    void workerSignalsArriveBeforeOutcome();
    void workerRunsOnPoolThreadAndDiesThere();
    void cancelLetsWorkerDecideAndStopsParent();
    void resetWaitsForWorkerAndIgnoresItsResult();
    void everyExecuteMakesNewWorker();
    void missingWorkerFailsTask();
};

void ASyncTaskTest::workerSignalsArriveBeforeOutcome_data() {
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("lastProgress");
    QTest::newRow("false fails") << false << int(Failed) << "canceled"
                                 << "progress 0.25";
    QTest::newRow("true finishes") << true << int(Finished) << "finished"
                                   << "progress 0.5";
}

void ASyncTaskTest::workerSignalsArriveBeforeOutcome() {
    QFETCH(bool, result);
    QFETCH(int, state);
    QFETCH(QString, outcome);
    QFETCH(QString, lastProgress);
    WorkerScript script;
    script.messages = QStringList{"one", "two", "three"};
    script.errors = QStringList{"bad"};
    script.progress = QList<double>{0.2, 0.5};
    script.result = result;
    ScriptedTask task(nullptr, 0.5, &script);
    QStringList log;
    recordSignals(&task, &log);
    QSignalSpy ended(&task, result ? &TaskSpecification::finished : &TaskSpecification::canceled);
    task.execute();
    QCOMPARE(task.state(), int(Running));
    QVERIFY(ended.wait());
    QCOMPARE(task.state(), state);
    const QStringList expected{"message one", "message two",  "message three",
                               "error bad",   "progress 0.1", "progress 0.25"};
    QCOMPARE(log.mid(0, expected.size()), expected);
    if (result) {
        QCOMPARE(log.mid(expected.size()), (QStringList{lastProgress, outcome}));
    } else {
        QCOMPARE(log.mid(expected.size()), QStringList{outcome});
        QCOMPARE(task.doneFrac(), 0.25);
    }
}

void ASyncTaskTest::workerRunsOnPoolThreadAndDiesThere() {
    WorkerScript script;
    ScriptedTask task(nullptr, 1.0, &script);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    task.execute();
    QVERIFY(finished.wait());
    QThread *runThread = script.runThread.loadAcquire();
    QVERIFY(runThread != nullptr);
    QVERIFY(runThread != QThread::currentThread());
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(script.destroyed.loadAcquire(), 1);
}

void ASyncTaskTest::cancelLetsWorkerDecideAndStopsParent() {
    QSemaphore started;
    QSemaphore gate;
    WorkerScript script;
    script.started = &started;
    script.gate = &gate;
    TestComposedTask parent(1, nullptr, 1.0);
    auto *task = new ScriptedTask(&parent, 1.0, &script);
    parent.add(task);
    ManualTask *next = parent.addManual(1.0);
    QSignalSpy taskFinished(task, &TaskSpecification::finished);
    QSignalSpy parentCanceled(&parent, &TaskSpecification::canceled);
    parent.execute();
    eventLoopTurn();
    started.acquire();

    parent.cancel();
    QVERIFY(task->isCancelRequested());
    QCOMPARE(task->state(), int(Running));
    gate.release();
    QVERIFY(taskFinished.wait());
    QCOMPARE(task->state(), int(Finished));
    QVERIFY(parentCanceled.wait());
    QCOMPARE(parent.state(), int(Canceled));
    QCOMPARE(next->state(), int(Idle));
    QCOMPARE(next->m_Executions, 0);
}

void ASyncTaskTest::resetWaitsForWorkerAndIgnoresItsResult() {
    QSemaphore started;
    WorkerScript script;
    script.started = &started;
    script.lingerMs = 50;  // long enough that a reset that did not wait would see it unfinished
    ScriptedTask task(nullptr, 1.0, &script);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    task.execute();
    started.acquire();
    task.reset();
    QCOMPARE(script.runsDone.loadAcquire(), 1);
    QCOMPARE(task.state(), int(Idle));
    QCoreApplication::processEvents();  // delivers the worker's result
    QCOMPARE(task.state(), int(Idle));
    QCOMPARE(finished.count() + canceled.count(), 0);
}

void ASyncTaskTest::everyExecuteMakesNewWorker() {
    WorkerScript script;
    ScriptedTask task(nullptr, 1.0, &script);
    QSignalSpy finished(&task, &TaskSpecification::finished);
    task.execute();
    QVERIFY(finished.wait());
    task.reset();
    task.execute();
    QVERIFY(finished.wait());
    QCOMPARE(task.m_FuncsCreated, 2);
    QCOMPARE(script.runsDone.loadAcquire(), 2);
}

void ASyncTaskTest::missingWorkerFailsTask() {
    ScriptedTask task(nullptr, 1.0, nullptr);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    QSignalSpy messages(&task, &TaskSpecification::message);
    task.execute();
    QCOMPARE(task.state(), int(Failed));
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(messages.count(), 1);
}

QTEST_GUILESS_MAIN(ASyncTaskTest)
#include "tst_asynctask.moc"
