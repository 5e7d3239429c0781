// The download step: directories, parallel transfers in list order, the hash
// check of every received file, and a failing file aborting its siblings.

#include <QDir>
#include <QFile>
#include <QtTest>
#include <algorithm>

#include "downloadtaskspecification.h"
#include "downloadtestenv.h"

using vxmtest::HttpReply;

namespace {

DownloadItem itemFor(const QString &name, const QByteArray &body, const QString &hash = {}) {
    DownloadItem item;
    item.section = QStringLiteral("client");
    item.name = name;
    item.hash = hash.isEmpty() ? DownloadTestEnv::sha512Hex(body) : hash;
    item.size = quint64(body.size());
    return item;
}

QString serverNameOf(const DownloadItem &item) {
    return item.section + QLatin1Char('/') + item.name;
}

}  // namespace

class DownloadListTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void emptyListFinishesAtOnce();
    void fetchesEveryEntryIntoItsDirectory();
    void receivedFileCheckReportsButFinishes_data();
    void receivedFileCheckReportsButFinishes();
    void uncreatableDirectoryFailsBeforeAnyTransfer();
    void runsStreamsTransfersInListOrder();
    void failingFileAbortsRunningSiblings();

private:
    DownloadFileListTaskSpecification *makeList();

    DownloadTestEnv *m_Env = nullptr;
    QList<DownloadItem> m_Items;
    DownloadFileListTaskSpecification *m_List = nullptr;
};

void DownloadListTest::init() {
    m_Env = new DownloadTestEnv;
    QVERIFY(m_Env->isReady());
    m_Items.clear();
}

void DownloadListTest::cleanup() {
    delete m_List;
    m_List = nullptr;
    delete m_Env;
    m_Env = nullptr;
}

DownloadFileListTaskSpecification *DownloadListTest::makeList() {
    m_List = new DownloadFileListTaskSpecification(&m_Items, &m_Env->m_Manager,
                                                   &m_Env->m_Configuration, nullptr, 0.4);
    return m_List;
}

void DownloadListTest::emptyListFinishesAtOnce() {
    DownloadFileListTaskSpecification *list = makeList();
    TaskProbe probe(list);
    list->execute();
    QCOMPARE(list->state(), int(Finished));
    QCOMPARE(list->doneFrac(), 0.4);
    QCOMPARE(probe.messages(), QStringList("No downloads needed"));
    QCOMPARE(QDir(m_Env->m_Configuration.m_TempDir)
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                 .size(),
             0);
}

void DownloadListTest::fetchesEveryEntryIntoItsDirectory() {
    const QStringList names = {"a/b/one.bin", "a/b/two.bin", "top.bin", "c/three.bin"};
    QList<QByteArray> bodies;
    for (const QString &name : names) {
        bodies.append(
            DownloadTestEnv::pattern(1000 + 100 * bodies.size(), char('a' + bodies.size())));
        m_Items.append(itemFor(name, bodies.last()));
        m_Env->serve(serverNameOf(m_Items.last()), HttpReply::ok(bodies.last()));
    }
    DownloadFileListTaskSpecification *list = makeList();
    TaskProbe probe(list);
    list->execute();
    QCOMPARE(list->totalBytes(), qint64(1000 + 1100 + 1200 + 1300));
    QVERIFY(probe.waitForEnd());
    QCOMPARE(list->state(), int(Finished));
    QCOMPARE(list->doneFrac(), 0.4);
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(m_Env->readLocal(names[i]), bodies[i]);
        QCOMPARE(m_Env->requestCount(serverNameOf(m_Items[i])), 1);
    }
    QCOMPARE(probe.messages().first(), QStringLiteral("Downloading files"));
    QVERIFY(!probe.messages().join('\n').contains("Signature check failed"));
    quint64 done = 0, total = 0, speed = 0;
    bool downloading = true;
    list->getDownloadProgress(done, total, speed, downloading);
    QCOMPARE(total, quint64(4600));
    QCOMPARE(done, quint64(4600));
    QVERIFY(!downloading);
}

void DownloadListTest::receivedFileCheckReportsButFinishes_data() {
    const QByteArray body = DownloadTestEnv::pattern(500);
    QTest::addColumn<QString>("hash");
    QTest::addColumn<bool>("reported");
    QTest::newRow("matching hash in upper case")
        << DownloadTestEnv::sha512Hex(body).toUpper() << false;
    QTest::newRow("hash of other content") << DownloadTestEnv::sha512Hex("something else") << true;
    // Without a hash the file's signature is checked, and there is none.
    QTest::newRow("no hash, no signature file") << QString() << true;
}

void DownloadListTest::receivedFileCheckReportsButFinishes() {
    QFETCH(QString, hash);
    QFETCH(bool, reported);
    const QByteArray body = DownloadTestEnv::pattern(500);
    m_Items.append(itemFor("checked.bin", body));
    m_Items.last().hash = hash;
    m_Env->serve(serverNameOf(m_Items.last()), HttpReply::ok(body));
    DownloadFileListTaskSpecification *list = makeList();
    TaskProbe probe(list);
    list->execute();
    QVERIFY(probe.waitForEnd());
    QCOMPARE(list->state(), int(Finished));
    QCOMPARE(
        probe.messages().contains("Signature check failed for " + m_Env->localPath("checked.bin")),
        reported);
    QCOMPARE(m_Env->readLocal("checked.bin"), body);
}

void DownloadListTest::uncreatableDirectoryFailsBeforeAnyTransfer() {
    QFile blocker(m_Env->localPath("blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_Items.append(itemFor("fine/x.bin", "x"));
    m_Items.append(itemFor("blocked/y.bin", "y"));
    DownloadFileListTaskSpecification *list = makeList();
    TaskProbe probe(list);
    list->execute();
    QCOMPARE(list->state(), int(Failed));
    const QString canonical = QDir(m_Env->m_Configuration.m_TempDir).canonicalPath();
    QCOMPARE(probe.messages(), QStringList("Could not create dir " + canonical + "/blocked"));
    QTest::qWait(50);
    QCOMPARE(m_Env->m_Server.requests().size(), 0);
}

void DownloadListTest::runsStreamsTransfersInListOrder() {
    // The first six stall until the poll restarts them; the rest answer at
    // once. A seventh transfer may only start once one of the six is done.
    const int count = 10;
    const int streams = m_Env->m_Configuration.m_Streams;
    QList<QByteArray> bodies;
    for (int i = 0; i < count; ++i) {
        bodies.append(DownloadTestEnv::pattern(300 + i, char('A' + i)));
        m_Items.append(itemFor(QStringLiteral("f%1.bin").arg(i), bodies.last()));
        const QString name = serverNameOf(m_Items.last());
        if (i < streams) {
            m_Env->serveAfterFirst(name, HttpReply::silence(), HttpReply::ok(bodies.last()));
        } else {
            m_Env->serve(name, HttpReply::ok(bodies.last()));
        }
    }
    DownloadFileListTaskSpecification *list = makeList();
    TaskProbe probe(list);
    list->execute();
    QTRY_COMPARE(m_Env->m_Server.requests().size(), streams);
    QList<QByteArray> expectedOrder;
    for (int i = 0; i < streams; ++i) {
        expectedOrder.append(DownloadTestEnv::serverPath(serverNameOf(m_Items[i])));
    }
    QList<QByteArray> firstPaths;
    for (const vxmtest::HttpRequestRecord &r : m_Env->m_Server.requests()) {
        firstPaths.append(r.path);
    }
    // Six connections race to the server, so their arrival order is not
    // the start order; which six were started is what the list decides.
    std::sort(firstPaths.begin(), firstPaths.end());
    std::sort(expectedOrder.begin(), expectedOrder.end());
    QCOMPARE(firstPaths, expectedOrder);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(list->subtasks().at(i)->state(), int(i < streams ? Running : Idle));
    }
    for (int poll = 0; poll <= DownloadTaskSpecification::kStallLimit; ++poll) {
        quint64 done = 0, total = 0, speed = 0;
        bool downloading = false;
        list->getDownloadProgress(done, total, speed, downloading);
        QCOMPARE(downloading, poll < DownloadTaskSpecification::kStallLimit);
    }
    QVERIFY(probe.waitForEnd());
    QCOMPARE(list->state(), int(Finished));
    for (int i = 0; i < count; ++i) {
        QCOMPARE(m_Env->readLocal(m_Items[i].name), bodies[i]);
        QCOMPARE(m_Env->requestCount(serverNameOf(m_Items[i])), i < streams ? 2 : 1);
    }
}

void DownloadListTest::failingFileAbortsRunningSiblings() {
    m_Env->m_Configuration.m_Streams = 3;
    for (int i = 0; i < 4; ++i) {
        m_Items.append(itemFor(QStringLiteral("s%1.bin").arg(i), "body"));
    }
    m_Env->serve(serverNameOf(m_Items[0]), HttpReply::silence());
    m_Env->serve(serverNameOf(m_Items[1]), HttpReply::silence());
    m_Env->serve(serverNameOf(m_Items[2]), HttpReply::withStatus(404));
    DownloadFileListTaskSpecification *list = makeList();
    TaskProbe probe(list);
    list->execute();
    QVERIFY(probe.waitForEnd());
    QCOMPARE(list->state(), int(Failed));
    QCOMPARE(probe.ends(), 1);
    const QStringList messages = probe.messages();
    QVERIFY(messages.contains("Unable to download " + serverNameOf(m_Items[2])));
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(list->subtasks().at(i)->state(), int(Failed));
        QVERIFY(messages.contains("Abort downloading " + serverNameOf(m_Items[i])));
        QVERIFY(!QFile::exists(m_Env->localPath(m_Items[i].name)));
    }
    QCOMPARE(list->subtasks().at(3)->state(), int(Idle));
    QCOMPARE(m_Env->requestCount(serverNameOf(m_Items[3])), 0);
}

QTEST_GUILESS_MAIN(DownloadListTest)
#include "tst_downloadlist.moc"
