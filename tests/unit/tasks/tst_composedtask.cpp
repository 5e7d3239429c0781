// Behaviour of TaskSpecification and ComposedTaskSpecification on a real
// event loop, driven through the test-only tasks of testtasks.h.

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include "testtasks.h"

Q_DECLARE_METATYPE(QList<int>)

namespace {

QList<int> statesOf(const QList<ManualTask *> &tasks) {
    QList<int> states;
    for (const ManualTask *t : tasks) {
        states.append(t->state());
    }
    return states;
}

QList<ManualTask *> addManuals(TestComposedTask &root, int count, QStringList *journal = nullptr) {
    QList<ManualTask *> tasks;
    for (int i = 0; i < count; ++i) {
        tasks.append(root.addManual(1.0, journal, QString::number(i)));
    }
    return tasks;
}

}  // namespace

class ComposedTaskTest : public QObject {
    Q_OBJECT

private slots:
    void leafOutcomes_data();
    void leafOutcomes();
    void emptyComposedFinishesInsideExecute();
    void subtaskEndingInsideItsExecute();
    void startsUpToMaxParallelOnLaterTurns_data();
    void startsUpToMaxParallelOnLaterTurns();
    void failingSiblingAbortsRunningOneBeforeParentEnds();
    void noticeReachesRunningLeafOfNestedComposed();
    void cancelThenNormalFinishEndsCanceled();
    void cancelOnIdleComposedSetsOnlyOwnFlag();
    void otherTaskCancelledFilter_data();
    void otherTaskCancelledFilter();
    void progressIsWeightedSum_data();
    void progressIsWeightedSum();
    void subtasksResult_data();
    void subtasksResult();
    void resetAllowsSecondRun();
    void relaysMessagesAndErrors();
    void sumsDownloadProgressOfKnownTotals();
    void clearSubtasksDetachesAndDeletes();
};

void ComposedTaskTest::leafOutcomes_data() {
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("finishedSignals");
    QTest::addColumn<int>("canceledSignals");
    QTest::addColumn<double>("doneFrac");
    QTest::newRow("finished") << int(Finished) << 1 << 0 << 0.5;
    QTest::newRow("failed") << int(Failed) << 0 << 1 << 0.1;
    QTest::newRow("canceled") << int(Canceled) << 0 << 1 << 0.1;
}

void ComposedTaskTest::leafOutcomes() {
    QFETCH(int, outcome);
    QFETCH(int, finishedSignals);
    QFETCH(int, canceledSignals);
    QFETCH(double, doneFrac);
    ManualTask task(nullptr, 0.5);
    QCOMPARE(task.state(), int(Idle));
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    task.execute();
    task.report(0.2);
    if (outcome == Finished) {
        task.finish();
    } else if (outcome == Failed) {
        task.fail();
    } else {
        task.abort();
    }
    QCOMPARE(task.state(), outcome);
    QCOMPARE(finished.count(), finishedSignals);
    QCOMPARE(canceled.count(), canceledSignals);
    QCOMPARE(task.doneFrac(), doneFrac);
    const QSignalSpy &ended = outcome == Finished ? finished : canceled;
    QCOMPARE(ended.at(0).at(0).value<TaskSpecification *>(), &task);
}

void ComposedTaskTest::emptyComposedFinishesInsideExecute() {
    TestComposedTask root(1, nullptr, 0.25);
    QSignalSpy finished(&root, &TaskSpecification::finished);
    QSignalSpy progress(&root, &TaskSpecification::updateProgress);
    root.execute();
    QCOMPARE(root.state(), int(Finished));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(root.doneFrac(), 0.25);
    QCOMPARE(progress.last().at(0).toDouble(), 0.25);
}

void ComposedTaskTest::subtaskEndingInsideItsExecute() {
    // An empty composed subtask finishes within its own execute(), i.e.
    // inside the parent's start of it.
    TestComposedTask root(1, nullptr, 1.0);
    auto *empty = new TestComposedTask(1, &root, 0.5);
    root.add(empty);
    ManualTask *leaf = root.addManual(0.5);
    QSignalSpy finished(&root, &TaskSpecification::finished);
    root.execute();
    eventLoopTurn();
    QCOMPARE(empty->state(), int(Finished));
    QCOMPARE(leaf->state(), int(Idle));
    eventLoopTurn();
    QCOMPARE(leaf->state(), int(Running));
    QCOMPARE(root.doneFrac(), 0.5);
    leaf->finish();
    QVERIFY(finished.wait());
    QCOMPARE(root.state(), int(Finished));
}

void ComposedTaskTest::startsUpToMaxParallelOnLaterTurns_data() {
    QTest::addColumn<int>("maxParallel");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("firstWave");
    QTest::newRow("2 of 5") << 2 << 5 << 2;
    QTest::newRow("1 of 3") << 1 << 3 << 1;
    QTest::newRow("more slots than tasks") << 6 << 3 << 3;
    QTest::newRow("0 taken as 1") << 0 << 3 << 1;
}

void ComposedTaskTest::startsUpToMaxParallelOnLaterTurns() {
    QFETCH(int, maxParallel);
    QFETCH(int, count);
    QFETCH(int, firstWave);
    QStringList journal;
    TestComposedTask root(maxParallel, nullptr, 1.0);
    const QList<ManualTask *> tasks = addManuals(root, count, &journal);
    QSignalSpy finished(&root, &TaskSpecification::finished);

    root.execute();
    QCOMPARE(root.state(), int(Running));
    QVERIFY2(journal.isEmpty(), "no subtask may start inside execute()");
    eventLoopTurn();
    QCOMPARE(journal.size(), firstWave);

    for (int i = 0; i < count; ++i) {
        const int started = journal.size();
        tasks[i]->finish();
        QCOMPARE(journal.size(), started);  // the next start waits for the loop
        eventLoopTurn();
        QCOMPARE(journal.size(), qMin(count, started + 1));
        QCOMPARE(finished.count(), i + 1 == count ? 1 : 0);
    }
    QCOMPARE(journal, (QStringList{"0", "1", "2", "3", "4"}).mid(0, count));
    QCOMPARE(root.state(), int(Finished));
}

void ComposedTaskTest::failingSiblingAbortsRunningOneBeforeParentEnds() {
    TestComposedTask root(2, nullptr, 1.0);
    const QList<ManualTask *> tasks = addManuals(root, 3);
    tasks[0]->m_AbortOnOtherCancel = true;
    QSignalSpy canceled(&root, &TaskSpecification::canceled);
    QSignalSpy notice(&root, &TaskSpecification::otherTaskCancelled);
    root.execute();
    eventLoopTurn();

    tasks[1]->fail();
    QCOMPARE(tasks[0]->m_OtherCancelNotices, (QList<TaskSpecification *>{tasks[1]}));
    QCOMPARE(notice.count(), 1);
    QCOMPARE(root.state(), int(Running));  // the first one is still running
    QCOMPARE(canceled.count(), 0);

    QVERIFY(canceled.wait());
    QCOMPARE(root.state(), int(Failed));
    QCOMPARE(statesOf(tasks), (QList<int>{Failed, Failed, Idle}));
    QCOMPARE(tasks[2]->m_Executions, 0);
    eventLoopTurn();
    QCOMPARE(canceled.count(), 1);
    QCOMPARE(notice.count(), 1);  // announced once only
}

void ComposedTaskTest::noticeReachesRunningLeafOfNestedComposed() {
    TestComposedTask root(2, nullptr, 1.0);
    auto *nested = new TestComposedTask(1, &root, 1.0);
    ManualTask *leaf = nested->addManual(1.0);
    ManualTask *idleLeaf = nested->addManual(1.0);
    leaf->m_AbortOnOtherCancel = true;
    root.add(nested);
    ManualTask *sibling = root.addManual(1.0);
    QSignalSpy canceled(&root, &TaskSpecification::canceled);
    root.execute();
    eventLoopTurn();  // starts nested and sibling
    eventLoopTurn();  // nested starts its first leaf
    QCOMPARE(leaf->state(), int(Running));

    sibling->fail();
    QCOMPARE(leaf->m_OtherCancelNotices, (QList<TaskSpecification *>{sibling}));
    QVERIFY(idleLeaf->m_OtherCancelNotices.isEmpty());
    QVERIFY(canceled.wait());
    QCOMPARE(nested->state(), int(Failed));
    QCOMPARE(root.state(), int(Failed));
    QCOMPARE(idleLeaf->state(), int(Idle));
}

void ComposedTaskTest::cancelThenNormalFinishEndsCanceled() {
    TestComposedTask root(1, nullptr, 1.0);
    const QList<ManualTask *> tasks = addManuals(root, 3);
    QSignalSpy canceled(&root, &TaskSpecification::canceled);
    QSignalSpy finished(&root, &TaskSpecification::finished);
    root.execute();
    eventLoopTurn();
    root.cancel();
    QVERIFY(root.isCancelRequested());
    for (const ManualTask *t : tasks) {
        QVERIFY(t->isCancelRequested());
    }
    tasks[0]->finish();
    QVERIFY(canceled.wait());
    QCOMPARE(root.state(), int(Canceled));
    QCOMPARE(statesOf(tasks), (QList<int>{Finished, Idle, Idle}));
    QCOMPARE(tasks[1]->m_Executions + tasks[2]->m_Executions, 0);
    QCOMPARE(finished.count(), 0);
}

void ComposedTaskTest::cancelOnIdleComposedSetsOnlyOwnFlag() {
    TestComposedTask root(1, nullptr, 1.0);
    const QList<ManualTask *> tasks = addManuals(root, 2);
    root.cancel();
    QVERIFY(root.isCancelRequested());
    QCOMPARE(root.state(), int(Idle));
    for (const ManualTask *t : tasks) {
        QVERIFY(!t->isCancelRequested());
    }
}

void ComposedTaskTest::otherTaskCancelledFilter_data() {
    QTest::addColumn<bool>("namesItself");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("handled");
    QTest::newRow("other, running") << false << int(Running) << true;
    QTest::newRow("itself, running") << true << int(Running) << false;
    QTest::newRow("other, idle") << false << int(Idle) << false;
    QTest::newRow("other, finished") << false << int(Finished) << false;
    QTest::newRow("other, failed") << false << int(Failed) << false;
}

void ComposedTaskTest::otherTaskCancelledFilter() {
    QFETCH(bool, namesItself);
    QFETCH(int, state);
    QFETCH(bool, handled);
    ManualTask task(nullptr, 1.0);
    ManualTask other(nullptr, 1.0);
    task.forceState(state);
    task.onOtherTaskCancelled(namesItself ? &task : &other);
    QCOMPARE(task.m_OtherCancelNotices.size(), handled ? 1 : 0);
}

void ComposedTaskTest::progressIsWeightedSum_data() {
    // A fraction of 1 finishes the subtask, a negative one leaves it alone.
    QTest::addColumn<double>("weight");
    QTest::addColumn<QList<double>>("subWeights");
    QTest::addColumn<QList<double>>("fractions");
    QTest::addColumn<double>("expected");
    QTest::newRow("first of two finished")
        << 0.1 << QList<double>{0.3333, 0.6667} << QList<double>{1.0, -1.0} << 0.03333;
    QTest::newRow("half of the second")
        << 0.1 << QList<double>{0.3333, 0.6667} << QList<double>{1.0, 0.5} << 0.066665;
    QTest::newRow("weights above one are not normalised")
        << 1.0 << QList<double>{0.7, 0.5} << QList<double>{1.0, 1.0} << 1.2;
    QTest::newRow("nothing done") << 0.5 << QList<double>{0.5, 0.5} << QList<double>{-1.0, -1.0}
                                  << 0.0;
}

void ComposedTaskTest::progressIsWeightedSum() {
    QFETCH(double, weight);
    QFETCH(QList<double>, subWeights);
    QFETCH(QList<double>, fractions);
    QFETCH(double, expected);
    TestComposedTask root(subWeights.size(), nullptr, weight);
    QList<ManualTask *> tasks;
    for (double w : qAsConst(subWeights)) {
        tasks.append(root.addManual(w));
    }
    QSignalSpy progress(&root, &TaskSpecification::updateProgress);
    root.execute();
    eventLoopTurn();
    for (int i = 0; i < tasks.size(); ++i) {
        if (fractions[i] >= 1.0) {
            tasks[i]->finish();
        } else if (fractions[i] >= 0.0) {
            tasks[i]->report(fractions[i]);
        }
    }
    QVERIFY(qAbs(root.doneFrac() - expected) < 1e-9);
    if (expected > 0.0) {
        QVERIFY(qAbs(progress.last().at(0).toDouble() - expected) < 1e-9);
    }
}

void ComposedTaskTest::subtasksResult_data() {
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<bool>("cancelRequested");
    QTest::addColumn<bool>("oneEndedThroughCanceled");
    QTest::addColumn<int>("expected");
    QTest::newRow("none") << QList<int>{} << false << false << int(Finished);
    QTest::newRow("all finished") << QList<int>{Finished, Finished} << false << false
                                  << int(Finished);
    QTest::newRow("all finished, cancel requested")
        << QList<int>{Finished, Finished} << true << false << int(Finished);
    QTest::newRow("one idle") << QList<int>{Finished, Idle} << false << false << int(Running);
    QTest::newRow("one idle, cancel requested")
        << QList<int>{Finished, Idle} << true << false << int(Canceled);
    QTest::newRow("canceled before failed")
        << QList<int>{Canceled, Failed} << false << false << int(Failed);
    QTest::newRow("failed before canceled")
        << QList<int>{Failed, Canceled} << false << false << int(Failed);
    QTest::newRow("canceled and idle")
        << QList<int>{Canceled, Idle} << false << false << int(Canceled);
    QTest::newRow("ended through canceled, now idle")
        << QList<int>{Idle, Finished} << false << true << int(Failed);
    QTest::newRow("ended through canceled, cancel requested")
        << QList<int>{Idle, Finished} << true << true << int(Canceled);
}

void ComposedTaskTest::subtasksResult() {
    QFETCH(QList<int>, states);
    QFETCH(bool, cancelRequested);
    QFETCH(bool, oneEndedThroughCanceled);
    QFETCH(int, expected);
    TestComposedTask root(qMax(1, states.size()), nullptr, 1.0);
    const QList<ManualTask *> tasks = addManuals(root, states.size());
    if (oneEndedThroughCanceled) {
        root.execute();
        eventLoopTurn();
        tasks[0]->fail();  // others still run, so the root keeps waiting
    }
    if (cancelRequested) {
        root.cancel();
    }
    for (int i = 0; i < tasks.size(); ++i) {
        tasks[i]->forceState(states[i]);
    }
    QCOMPARE(int(root.subtasksResult()), expected);
}

void ComposedTaskTest::resetAllowsSecondRun() {
    QStringList journal;
    TestComposedTask root(1, nullptr, 1.0);
    const QList<ManualTask *> tasks = addManuals(root, 2, &journal);
    QSignalSpy canceled(&root, &TaskSpecification::canceled);
    QSignalSpy finished(&root, &TaskSpecification::finished);
    root.execute();
    eventLoopTurn();
    tasks[0]->report(0.5);
    root.cancel();
    tasks[0]->fail();
    QCOMPARE(canceled.count(), 1);

    root.reset();
    QCOMPARE(root.state(), int(Idle));
    QVERIFY(!root.isCancelRequested());
    QCOMPARE(root.doneFrac(), 0.0);
    QCOMPARE(statesOf(tasks), (QList<int>{Idle, Idle}));
    QVERIFY(!tasks[0]->isCancelRequested());

    root.execute();
    eventLoopTurn();
    tasks[0]->finish();
    eventLoopTurn();
    tasks[1]->finish();
    QVERIFY(finished.wait());
    QCOMPARE(journal, (QStringList{"0", "0", "1"}));
    QCOMPARE(root.doneFrac(), 1.0);
}

void ComposedTaskTest::relaysMessagesAndErrors() {
    TestComposedTask root(1, nullptr, 1.0);
    ManualTask *child = root.addManual(1.0);
    QSignalSpy messages(&root, &TaskSpecification::message);
    QSignalSpy errors(&root, &TaskSpecification::error);
    emit child->message(QStringLiteral("line"));
    emit child->error(QStringLiteral("boom"));
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.at(0).at(0).toString(), QStringLiteral("line"));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("boom"));
}

void ComposedTaskTest::sumsDownloadProgressOfKnownTotals() {
    TestComposedTask root(3, nullptr, 1.0);
    ManualTask *a = root.addManual(1.0);
    ManualTask *b = root.addManual(1.0);
    a->m_DlDone = 10;
    a->m_DlTotal = 100;
    a->m_DlSpeed = 5;
    b->m_DlDone = 7;  // no total known: counts for speed only
    b->m_DlSpeed = 3;
    b->m_DlActive = true;
    quint64 done = 0;
    quint64 total = 0;
    quint64 speed = 0;
    bool downloading = true;
    root.getDownloadProgress(done, total, speed, downloading);
    QCOMPARE(done, quint64(10));
    QCOMPARE(total, quint64(100));
    QCOMPARE(speed, quint64(8));
    QVERIFY(downloading);
    b->m_DlActive = false;
    downloading = true;
    root.getDownloadProgress(done, total, speed, downloading);
    QVERIFY(!downloading);
}

void ComposedTaskTest::clearSubtasksDetachesAndDeletes() {
    TestComposedTask root(1, nullptr, 1.0);
    ManualTask *child = root.addManual(1.0);
    QPointer<ManualTask> watch(child);
    QSignalSpy progress(&root, &TaskSpecification::updateProgress);
    root.clearSubtasks();
    QVERIFY(root.subtasks().isEmpty());
    child->report(0.5);
    QCOMPARE(progress.count(), 0);
    QVERIFY(watch);  // deletion is deferred to the event loop
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!watch);

    root.execute();  // nothing left: ends at once
    QCOMPARE(root.state(), int(Finished));
}

QTEST_GUILESS_MAIN(ComposedTaskTest)
#include "tst_composedtask.moc"
