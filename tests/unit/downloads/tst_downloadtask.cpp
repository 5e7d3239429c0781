// One HTTP transfer against the scriptable server: the status rule, the
// retries, the body bound, stall detection through the progress poll,
// cancel and a sibling's abort.

#include <QFile>
#include <QtTest>

#include "downloadtaskspecification.h"
#include "downloadtestenv.h"

using vxmtest::HttpReply;

Q_DECLARE_METATYPE(vxmtest::HttpReply)

namespace {

const QString kName = QStringLiteral("client/sub/file.bin");
const QString kLocal = QStringLiteral("file.bin");

struct Poll {
    quint64 done = 0;
    quint64 total = 0;
    quint64 speed = 0;
    bool downloading = false;
};

Poll poll(TaskSpecification &task) {
    Poll p;
    task.getDownloadProgress(p.done, p.total, p.speed, p.downloading);
    return p;
}

}  // namespace

class DownloadTaskTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void finishesWithBody_data();
    void finishesWithBody();
    void failsAfterFiveAttempts_data();
    void failsAfterFiveAttempts();
    void recoversOnLaterAttempt_data();
    void recoversOnLaterAttempt();
    void vanishedFileIsFailedAttempt();
    void sixteenthPollWithoutDataRestarts();
    void dataWithinFifteenPollsNeverTimesOut();
    void unknownSizeFollowsAnnouncedLength();
    void interruptedTransferRemovesPartialFile_data();
    void interruptedTransferRemovesPartialFile();
    void bodyDigestOnlyWhenEnabledAndClearedByReset();
    void cancelWhenNotRunningOnlySetsFlag();
    void unwritableLocalFileFailsWithoutRequest();
    void urlKeepsServerNameBelowVersion();

private:
    DownloadTaskSpecification *makeTask(qint64 expectedBytes, const QString &local = kLocal);

    DownloadTestEnv *m_Env = nullptr;
    DownloadTaskSpecification *m_Task = nullptr;
};

void DownloadTaskTest::init() {
    m_Env = new DownloadTestEnv;
    QVERIFY(m_Env->isReady());
}

void DownloadTaskTest::cleanup() {
    delete m_Task;
    m_Task = nullptr;
    delete m_Env;
    m_Env = nullptr;
}

DownloadTaskSpecification *DownloadTaskTest::makeTask(qint64 expectedBytes, const QString &local) {
    m_Task = new DownloadTaskSpecification(&m_Env->m_Manager, kName, DownloadTestEnv::kVersion,
                                           m_Env->localPath(local), expectedBytes, nullptr, 0.8);
    return m_Task;
}

void DownloadTaskTest::finishesWithBody_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("small, size known") << QByteArray("hello") << qint64(5);
    QTest::newRow("zero bytes, size known") << QByteArray() << qint64(0);
    QTest::newRow("zero bytes, size unknown") << QByteArray() << qint64(-1);
    QTest::newRow("many reads, size unknown") << DownloadTestEnv::pattern(300000) << qint64(-1);
    QTest::newRow("many reads, size known") << DownloadTestEnv::pattern(300001) << qint64(300001);
}

void DownloadTaskTest::finishesWithBody() {
    QFETCH(QByteArray, body);
    QFETCH(qint64, expected);
    m_Env->serve(kName, HttpReply::ok(body));
    DownloadTaskSpecification *task = makeTask(expected);
    task->enableBodyDigest();
    TaskProbe probe(task);
    task->execute();
    QVERIFY(probe.waitForEnd());
    QCOMPARE(task->state(), int(Finished));
    QCOMPARE(m_Env->readLocal(kLocal), body);
    QCOMPARE(task->bodySha512Hex(), DownloadTestEnv::sha512Hex(body));
    QCOMPARE(probe.messages(),
             QStringList({"Downloading " + kName, "Downloading " + kName + " finished"}));
    QCOMPARE(task->doneFrac(), 0.8);
    QCOMPARE(m_Env->requestCount(kName), 1);
    QCOMPARE(m_Env->m_Server.requests().value(0).method, QByteArray("GET"));
    const Poll after = poll(*task);
    QCOMPARE(after.done, quint64(body.size()));
    QVERIFY(!after.downloading);
}

void DownloadTaskTest::failsAfterFiveAttempts_data() {
    QTest::addColumn<HttpReply>("reply");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<QString>("reason");
    const QByteArray body = DownloadTestEnv::pattern(2000);
    QTest::newRow("302 not followed")
        << HttpReply::redirect("/files/7/elsewhere") << qint64(-1) << kName + " returned 302";
    QTest::newRow("404") << HttpReply::withStatus(404, "gone") << qint64(-1)
                         << kName + " returned 404";
    QTest::newRow("500") << HttpReply::withStatus(500, "oops") << qint64(10)
                         << kName + " returned 500";
    QTest::newRow("body cut short, then reset")
        << HttpReply::cutShort(body, 700) << qint64(2000) << QString();
    QTest::newRow("body larger than the expected size")
        << HttpReply::ok(body) << qint64(1999) << kName + " sent more than 1999 bytes";
    QTest::newRow("endless body, size known")
        << HttpReply::endlessBody() << qint64(5000) << kName + " sent more than 5000 bytes";
}

void DownloadTaskTest::failsAfterFiveAttempts() {
    QFETCH(HttpReply, reply);
    QFETCH(qint64, expected);
    QFETCH(QString, reason);
    m_Env->serve(kName, reply);
    DownloadTaskSpecification *task = makeTask(expected);
    task->enableBodyDigest();
    TaskProbe probe(task);
    task->execute();
    QVERIFY(probe.waitForEnd());
    QCOMPARE(task->state(), int(Failed));
    QCOMPARE(probe.ends(), 1);
    QVERIFY(task->bodySha512Hex().isEmpty());
    QCOMPARE(m_Env->requestCount(kName), 5);
    QCOMPARE(m_Env->m_Server.requestCount("/files/7/elsewhere"), 0);
    QCOMPARE(task->retries(), DownloadTaskSpecification::kMaxRetries);
    QVERIFY(!QFile::exists(m_Env->localPath(kLocal)));
    const QStringList messages = probe.messages();
    QCOMPARE(messages.size(), 1 + 5 + 1);
    QCOMPARE(messages.first(), "Downloading " + kName);
    QCOMPARE(messages.last(), "Unable to download " + kName);
    if (!reason.isEmpty()) {
        QCOMPARE(messages.count(reason), 5);
    }
}

void DownloadTaskTest::recoversOnLaterAttempt_data() {
    QTest::addColumn<HttpReply>("first");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<QString>("reason");
    const QByteArray body = DownloadTestEnv::pattern(70000);
    QTest::newRow("302") << HttpReply::redirect("/x") << qint64(70000) << kName + " returned 302";
    QTest::newRow("cut short") << HttpReply::cutShort(body, 30000) << qint64(70000) << QString();
    QTest::newRow("endless, size known")
        << HttpReply::endlessBody() << qint64(70000) << kName + " sent more than 70000 bytes";
    // Without a known size only the general bound stops the body.
    QTest::newRow("endless, size unknown")
        << HttpReply::endlessBody() << qint64(-1)
        << kName + " sent more than " +
               QString::number(DownloadTaskSpecification::kUnknownSizeLimit) + " bytes";
}

void DownloadTaskTest::recoversOnLaterAttempt() {
    QFETCH(HttpReply, first);
    QFETCH(qint64, expected);
    QFETCH(QString, reason);
    const QByteArray body = DownloadTestEnv::pattern(70000);
    m_Env->serveAfterFirst(kName, first, HttpReply::ok(body));
    DownloadTaskSpecification *task = makeTask(expected);
    task->enableBodyDigest();
    TaskProbe probe(task);
    task->execute();
    QVERIFY(probe.waitForEnd());
    QCOMPARE(task->state(), int(Finished));
    QCOMPARE(m_Env->requestCount(kName), 2);
    QCOMPARE(task->retries(), 1);
    QCOMPARE(m_Env->readLocal(kLocal), body);
    // The first attempt's bytes (a part of the body, or more than all of it)
    // were digested too; the restart must have discarded them.
    QCOMPARE(task->bodySha512Hex(), DownloadTestEnv::sha512Hex(body));
    QCOMPARE(probe.messages().size(), 1 + 1 + 1);
    if (!reason.isEmpty()) {
        QCOMPARE(probe.messages().value(1), reason);
    }
}

void DownloadTaskTest::vanishedFileIsFailedAttempt() {
    const QByteArray body = DownloadTestEnv::pattern(400);
    m_Env->serve(kName, HttpReply::trickle(body, 200, 100));
    DownloadTaskSpecification *task = makeTask(400);
    task->enableBodyDigest();
    TaskProbe probe(task);
    bool removed = false;
    connect(task, &TaskSpecification::updateProgress, this, [&](double doneFrac) {
        if (!removed && doneFrac > 0) {
            removed = QFile::remove(task->localPath());
        }
    });
    task->execute();
    QVERIFY(probe.waitForEnd());
    QVERIFY(removed);
    QCOMPARE(task->state(), int(Finished));
    QCOMPARE(m_Env->requestCount(kName), 2);
    QCOMPARE(m_Env->readLocal(kLocal), body);
    QCOMPARE(task->bodySha512Hex(), DownloadTestEnv::sha512Hex(body));
    QVERIFY(probe.messages().contains("File " + task->localPath() +
                                      " vanished before the download completed"));
}

void DownloadTaskTest::sixteenthPollWithoutDataRestarts() {
    const QByteArray body = DownloadTestEnv::pattern(1000);
    m_Env->serveAfterFirst(kName, HttpReply::silence(), HttpReply::ok(body));
    DownloadTaskSpecification *task = makeTask(-1);
    TaskProbe probe(task);
    task->execute();
    QTRY_COMPARE(m_Env->requestCount(kName), 1);
    for (int i = 0; i < DownloadTaskSpecification::kStallLimit; ++i) {
        const Poll p = poll(*task);
        QVERIFY(p.downloading);
        QCOMPARE(p.total, quint64(0));
        QCOMPARE(p.done, quint64(0));
    }
    QCOMPARE(task->retries(), 0);
    QVERIFY(!probe.messages().contains("file " + kName + " timed out"));
    QVERIFY(!poll(*task).downloading);
    QCOMPARE(task->retries(), 1);
    QVERIFY(probe.messages().contains("file " + kName + " timed out"));
    QVERIFY(probe.waitForEnd());
    QCOMPARE(task->state(), int(Finished));
    QCOMPARE(m_Env->requestCount(kName), 2);
    QCOMPARE(m_Env->readLocal(kLocal), body);
}

void DownloadTaskTest::dataWithinFifteenPollsNeverTimesOut() {
    const QByteArray body = DownloadTestEnv::pattern(1000);
    m_Env->serve(kName, HttpReply::trickle(body, 100, 20));
    DownloadTaskSpecification *task = makeTask(1000);
    TaskProbe probe(task);
    int pieces = 0;
    bool allDownloading = true;
    quint64 polledBytes = 0;
    // Every piece of data arrives after the longest run of polls that is
    // still tolerated.
    connect(task, &TaskSpecification::updateProgress, this, [&](double doneFrac) {
        if (doneFrac <= 0 || task->state() != Running) {
            return;
        }
        ++pieces;
        for (int i = 0; i < DownloadTaskSpecification::kStallLimit; ++i) {
            const Poll p = poll(*task);
            allDownloading = allDownloading && p.downloading;
            polledBytes += p.speed;
        }
    });
    task->execute();
    QVERIFY(probe.waitForEnd());
    QCOMPARE(task->state(), int(Finished));
    QVERIFY(pieces >= 2);
    QVERIFY(allDownloading);
    QCOMPARE(task->retries(), 0);
    QCOMPARE(m_Env->requestCount(kName), 1);
    QCOMPARE(polledBytes, quint64(body.size()));
}

void DownloadTaskTest::unknownSizeFollowsAnnouncedLength() {
    const QByteArray body = DownloadTestEnv::pattern(1000);
    m_Env->serve(kName, HttpReply::trickle(body, 250, 30));
    DownloadTaskSpecification *task = makeTask(-1);
    TaskProbe probe(task);
    QCOMPARE(poll(*task).total, quint64(0));
    QList<double> progress;
    QList<quint64> totals;
    connect(task, &TaskSpecification::updateProgress, this, [&](double doneFrac) {
        if (task->state() == Running) {
            progress.append(doneFrac);
            totals.append(poll(*task).total);
        }
    });
    task->execute();
    QVERIFY(probe.waitForEnd());
    QCOMPARE(task->state(), int(Finished));
    QVERIFY(!progress.isEmpty());
    QVERIFY(progress.first() > 0 && progress.first() < 0.8);
    QCOMPARE(progress.last(), 0.8);
    QCOMPARE(totals.count(quint64(1000)), totals.size());
    QCOMPARE(poll(*task).total, quint64(1000));
}

void DownloadTaskTest::interruptedTransferRemovesPartialFile_data() {
    QTest::addColumn<bool>("bySibling");
    QTest::addColumn<bool>("afterLastByte");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("lastMessage");
    QTest::newRow("cancel") << false << false << int(Canceled) << "Downloading " + kName;
    QTest::newRow("sibling failed") << true << false << int(Failed) << "Abort downloading " + kName;
    // Once the whole body is written, the attempt may still wait for its
    // digest; it is interrupted all the same and never finishes later.
    QTest::newRow("cancel after the last byte")
        << false << true << int(Canceled) << "Downloading " + kName;
    QTest::newRow("sibling failed after the last byte")
        << true << true << int(Failed) << "Abort downloading " + kName;
}

void DownloadTaskTest::interruptedTransferRemovesPartialFile() {
    QFETCH(bool, bySibling);
    QFETCH(bool, afterLastByte);
    QFETCH(int, outcome);
    QFETCH(QString, lastMessage);
    const QByteArray body = DownloadTestEnv::pattern(afterLastByte ? 300000 : 5000);
    m_Env->serve(kName, afterLastByte ? HttpReply::ok(body) : HttpReply::trickle(body, 100, 50));
    DownloadTaskSpecification *task = makeTask(body.size());
    task->enableBodyDigest();
    TaskProbe probe(task);
    DownloadTaskSpecification sibling(&m_Env->m_Manager, QStringLiteral("other"), 1,
                                      m_Env->localPath("other"), -1, nullptr, 0.1);
    bool interrupted = false;
    const auto interrupt = [&] {
        interrupted = true;
        if (bySibling) {
            task->handleOtherTaskCancelled(&sibling);
        } else {
            task->cancel();
        }
    };
    // The manager hears of the reply's end just before the task does; the
    // queued interruption then comes after the task has handled it, before
    // the digest's result arrives.
    connect(&m_Env->m_Manager, &QNetworkAccessManager::finished, this, [&] {
        if (afterLastByte && !interrupted) {
            QMetaObject::invokeMethod(this, interrupt, Qt::QueuedConnection);
        }
    });
    task->execute();
    if (afterLastByte) {
        QTRY_VERIFY(interrupted);
    } else {
        QTRY_VERIFY(task->doneFrac() > 0);
        QVERIFY(QFile::exists(task->localPath()));
        interrupt();
    }
    QCOMPARE(task->state(), outcome);
    QCOMPARE(probe.ends(), 1);
    QCOMPARE(probe.messages().last(), lastMessage);
    QVERIFY(!QFile::exists(task->localPath()));
    QVERIFY(!poll(*task).downloading);
    QTest::qWait(200);
    QCOMPARE(probe.ends(), 1);
}

void DownloadTaskTest::bodyDigestOnlyWhenEnabledAndClearedByReset() {
    m_Env->serve(kName, HttpReply::ok("abc"));
    DownloadTaskSpecification *task = makeTask(3);
    TaskProbe plain(task);
    task->execute();
    QVERIFY(plain.waitForEnd());
    QCOMPARE(task->state(), int(Finished));
    QVERIFY(task->bodySha512Hex().isEmpty());
    task->reset();
    task->enableBodyDigest();
    TaskProbe digested(task);
    task->execute();
    QVERIFY(digested.waitForEnd());
    QCOMPARE(task->bodySha512Hex(), DownloadTestEnv::sha512Hex("abc"));
    task->reset();
    QVERIFY(task->bodySha512Hex().isEmpty());
}

void DownloadTaskTest::cancelWhenNotRunningOnlySetsFlag() {
    DownloadTaskSpecification *task = makeTask(10);
    TaskProbe probe(task);
    task->cancel();
    QVERIFY(task->isCancelRequested());
    QCOMPARE(task->state(), int(Idle));
    QCOMPARE(probe.ends(), 0);
    QCOMPARE(m_Env->m_Server.requests().size(), 0);
}

void DownloadTaskTest::unwritableLocalFileFailsWithoutRequest() {
    DownloadTaskSpecification *task = makeTask(10, QStringLiteral("no/such/dir/file.bin"));
    TaskProbe probe(task);
    task->execute();
    QCOMPARE(task->state(), int(Failed));
    QCOMPARE(probe.errors(),
             QStringList("Unable to create file " + task->localPath() + " for saving"));
    QTest::qWait(50);
    QCOMPARE(m_Env->m_Server.requests().size(), 0);
}

void DownloadTaskTest::urlKeepsServerNameBelowVersion() {
    updateBaseUrl = QStringLiteral("http://127.0.0.1:8/base/");
    QCOMPARE(DownloadTaskSpecification::downloadUrl(12, QStringLiteral("client/a b.bin")),
             QUrl(QStringLiteral("http://127.0.0.1:8/base/12/client/a%20b.bin")));
}

QTEST_GUILESS_MAIN(DownloadTaskTest)
#include "tst_downloadtask.moc"
