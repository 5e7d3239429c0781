// The version query against the in-process HTTP server, and the channel
// lookup the configuration uses.

#include <QPointer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include "UpdateMessage.pb.h"
#include "httpdownloader.h"
#include "protobufhelper.h"
#include "testhttpserver.h"
#include "updatechecker.h"

using vxmtest::HttpReply;

Q_DECLARE_METATYPE(vxmtest::HttpReply)

namespace {

const QByteArray kPath("/vxm-client-2");

QByteArray versionsBody(const QList<QPair<QByteArray, int>> &channels) {
    com::voxmere::update::Versions v;
    v.set_licenseagreementid(3);
    for (const auto &c : channels) {
        auto *ch = v.add_channels();
        ch->set_name(c.first.toStdString());
        ch->set_version_number(c.second);
        ch->set_version_string("v" + std::to_string(c.second));
    }
    const std::string bytes = v.SerializeAsString();
    return QByteArray(bytes.data(), static_cast<int>(bytes.size()));
}

}  // namespace

class UpdateCheckerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void deliversServerAnswer_data();
    void deliversServerAnswer();
    void refusedConnectionGivesEmptyMap();
    void downloaderDeletesItselfAfterRun();
    void downloaderCapsTheBody_data();
    void downloaderCapsTheBody();
    void versionForChannel_data();
    void versionForChannel();

private:
    UpdateVersions runCheck(const QString &url);
};

void UpdateCheckerTest::initTestCase() {
    qRegisterMetaType<UpdateVersions>("UpdateVersions");
}

UpdateVersions UpdateCheckerTest::runCheck(const QString &url) {
    QThread *emittedOn = nullptr;
    auto *checker = new UpdateChecker(nullptr, url);
    QPointer<UpdateChecker> watch(checker);
    connect(
        checker, &UpdateChecker::update_available, this,
        [&emittedOn] { emittedOn = QThread::currentThread(); }, Qt::DirectConnection);
    QSignalSpy available(checker, &UpdateChecker::update_available);
    checker->startCheck();
    if (!available.wait(10000)) {
        qWarning("no update_available");
        return {{"no answer", {}}};
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (watch || emittedOn != QThread::currentThread()) {
        qWarning("the checker must answer on its own thread and delete itself");
        return {{"misbehaved", {}}};
    }
    return available.at(0).at(0).value<UpdateVersions>();
}

void UpdateCheckerTest::deliversServerAnswer_data() {
    QTest::addColumn<HttpReply>("reply");
    QTest::addColumn<UpdateVersions>("expected");
    const UpdateVersions both{{"stable", {"100", "v100"}}, {"beta", {"101", "v101"}}};
    QTest::newRow("stable and beta")
        << HttpReply::ok(versionsBody({{"stable", 100}, {"beta", 101}})) << both;
    QTest::newRow("duplicate stable: first wins")
        << HttpReply::ok(versionsBody({{"stable", 100}, {"beta", 101}, {"stable", 7}})) << both;
    QTest::newRow("no channels") << HttpReply::ok(versionsBody({})) << UpdateVersions();
    QTest::newRow("empty body") << HttpReply::ok(QByteArray()) << UpdateVersions();
    QTest::newRow("not a message") << HttpReply::ok("<html>hello</html>") << UpdateVersions();
    QTest::newRow("404 with a valid body")
        << HttpReply::withStatus(404, versionsBody({{"stable", 100}})) << UpdateVersions();
    QTest::newRow("500") << HttpReply::withStatus(500) << UpdateVersions();
    QTest::newRow("cut short") << HttpReply::cutShort(
                                      versionsBody({{"stable", 100}, {"beta", 101}}), 6)
                               << UpdateVersions();
    QTest::newRow("endless body") << HttpReply::endlessBody() << UpdateVersions();
}

void UpdateCheckerTest::deliversServerAnswer() {
    QFETCH(HttpReply, reply);
    QFETCH(UpdateVersions, expected);
    vxmtest::TestHttpServer server;
    QVERIFY(server.start());
    server.setReply(kPath, reply);
    QCOMPARE(runCheck(server.url(QString::fromLatin1(kPath))), expected);
    QVERIFY(server.requestCount(kPath) >= 1);
    QCOMPARE(server.requests().at(0).method, QByteArray("GET"));
}

void UpdateCheckerTest::refusedConnectionGivesEmptyMap() {
    const quint16 port = vxmtest::refusingPort();
    QVERIFY(port != 0);
    QCOMPARE(runCheck(QStringLiteral("http://127.0.0.1:%1/vxm-client-2").arg(port)),
             UpdateVersions());
}

void UpdateCheckerTest::downloaderDeletesItselfAfterRun() {
    vxmtest::TestHttpServer server;
    QVERIFY(server.start());
    server.setReply("/body", HttpReply::ok("payload"));
    auto *downloader = new HTTPDownloader(QNetworkRequest(QUrl(server.url("/body"))));
    QPointer<HTTPDownloader> watch(downloader);
    QSignalSpy available(downloader, &HTTPDownloader::download_available);
    downloader->start();
    QVERIFY(available.wait(10000));
    QCOMPARE(available.at(0).at(0).toByteArray(), QByteArray("payload"));
    QTRY_VERIFY(!watch);
}

void UpdateCheckerTest::downloaderCapsTheBody_data() {
    QTest::addColumn<HttpReply>("reply");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray atCap(static_cast<int>(HTTPDownloader::kMaxBodyBytes), 'v');
    QTest::newRow("body at the cap") << HttpReply::ok(atCap) << atCap;
    QTest::newRow("one byte over") << HttpReply::ok(atCap + 'v') << QByteArray();
    QTest::newRow("endless") << HttpReply::endlessBody() << QByteArray();
}

void UpdateCheckerTest::downloaderCapsTheBody() {
    QFETCH(HttpReply, reply);
    QFETCH(QByteArray, expected);
    vxmtest::TestHttpServer server;
    QVERIFY(server.start());
    server.setReply("/body", reply);
    auto *downloader = new HTTPDownloader(QNetworkRequest(QUrl(server.url("/body"))));
    QSignalSpy available(downloader, &HTTPDownloader::download_available);
    downloader->start();
    QVERIFY(available.wait(10000));
    QCOMPARE(available.at(0).at(0).toByteArray(), expected);
}

void UpdateCheckerTest::versionForChannel_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("0 stable") << 0 << "100"
                              << "3.1.0";
    QTest::newRow("1 beta") << 1 << "101"
                            << "3.1.1";
    QTest::newRow("2 alpha") << 2 << "102"
                             << "3.2.0";
    QTest::newRow("7 unknown") << 7 << QString() << QString();
    QTest::newRow("-1 unknown") << -1 << QString() << QString();
}

void UpdateCheckerTest::versionForChannel() {
    QFETCH(int, channel);
    QFETCH(QString, number);
    QFETCH(QString, text);
    const UpdateVersions versions{{"stable", {"100", "3.1.0"}},
                                  {"beta", {"101", "3.1.1"}},
                                  {"alpha", {"102", "3.2.0"}},
                                  {"7", {"7", "seven"}}};
    const QPair<QString, QString> got = ::versionForChannel(versions, channel);
    QCOMPARE(got.first, number);
    QCOMPARE(got.second, text);
    QCOMPARE(::versionForChannel(UpdateVersions(), channel), qMakePair(QString(), QString()));
}

QTEST_GUILESS_MAIN(UpdateCheckerTest)
#include "tst_updatechecker.moc"
