// The test HTTP server answers as scripted; other tests rely on it.

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include "testhttpserver.h"

using vxmtest::HttpReply;
using vxmtest::TestHttpServer;

Q_DECLARE_METATYPE(vxmtest::HttpReply)

namespace {

struct Fetched {
    bool done = false;
    int status = 0;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray location;
};

Fetched fetch(QNetworkAccessManager &manager, const QString &url) {
    Fetched result;
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("X-Test", "yes");
    QNetworkReply *reply = manager.get(request);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    result.done = finished.wait(10000);
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.error = reply->error();
    result.location = reply->rawHeader("Location");
    delete reply;
    return result;
}

}  // namespace

class TestHttpServerTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void answersAsScripted_data();
    void answersAsScripted();
    void recordsRequests();
    void stallsUntilConnectionsClosed();
    void cutShortSendsPartOfAnnouncedBody();
    void malformedRequestGets400();
    void refusesAfterStop();

private:
    TestHttpServer *m_Server = nullptr;
    QNetworkAccessManager *m_Manager = nullptr;
};

void TestHttpServerTest::init() {
    m_Server = new TestHttpServer;
    QVERIFY(m_Server->start());
    m_Manager = new QNetworkAccessManager;
}

void TestHttpServerTest::cleanup() {
    delete m_Manager;
    delete m_Server;
}

void TestHttpServerTest::answersAsScripted_data() {
    const QByteArray body(3000, 'x');
    QTest::addColumn<HttpReply>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QByteArray>("location");
    QTest::newRow("200") << HttpReply::ok("hello") << 200 << QByteArray("hello") << false
                         << QByteArray();
    QTest::newRow("404") << HttpReply::withStatus(404, "none") << 404 << QByteArray("none") << true
                         << QByteArray();
    QTest::newRow("500") << HttpReply::withStatus(500) << 500 << QByteArray() << true
                         << QByteArray();
    QTest::newRow("302") << HttpReply::redirect("/elsewhere") << 302 << QByteArray() << false
                         << QByteArray("/elsewhere");
    QTest::newRow("delayed") << HttpReply::ok(body).delayedBy(30) << 200 << body << false
                             << QByteArray();
    QTest::newRow("trickle") << HttpReply::trickle(body, 700, 5) << 200 << body << false
                             << QByteArray();
}

void TestHttpServerTest::answersAsScripted() {
    QFETCH(HttpReply, reply);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, failed);
    QFETCH(QByteArray, location);
    m_Server->setReply("/file", reply);
    const Fetched got = fetch(*m_Manager, m_Server->url("/file"));
    QVERIFY(got.done);
    QCOMPARE(got.status, status);
    QCOMPARE(got.error != QNetworkReply::NoError, failed);
    QCOMPARE(got.body, body);
    QCOMPARE(got.location, location);
    QCOMPARE(m_Server->requestCount("/file"), 1);
}

void TestHttpServerTest::recordsRequests() {
    const Fetched unknown = fetch(*m_Manager, m_Server->url("/a/b?x=1"));
    QCOMPARE(unknown.status, 404);
    const QList<vxmtest::HttpRequestRecord> requests = m_Server->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].method, QByteArray("GET"));
    QCOMPARE(requests[0].target, QByteArray("/a/b?x=1"));
    QCOMPARE(requests[0].path, QByteArray("/a/b"));
    QCOMPARE(requests[0].headers.value("x-test"), QByteArray("yes"));
}

void TestHttpServerTest::stallsUntilConnectionsClosed() {
    m_Server->setReply("/slow", HttpReply::silence());
    QSignalSpy received(m_Server, &TestHttpServer::requestReceived);
    QNetworkReply *reply = m_Manager->get(QNetworkRequest(QUrl(m_Server->url("/slow"))));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    QVERIFY(received.wait());
    QCoreApplication::processEvents();
    QVERIFY(!reply->isFinished());
    // The client resends a request whose connection closed before any
    // answer byte; close every later attempt as well.
    connect(m_Server, &TestHttpServer::requestReceived, m_Server, &TestHttpServer::closeConnections,
            Qt::QueuedConnection);
    m_Server->closeConnections();
    QVERIFY(finished.wait());
    QVERIFY(reply->error() != QNetworkReply::NoError);
    delete reply;
}

namespace {

/// Sends `request` on a raw connection and collects everything the server
/// sends until it ends the connection.
QByteArray rawExchange(quint16 port, const QByteArray &request) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    // The server needs this thread's event loop, so wait through it.
    QSignalSpy ended(&socket, &QTcpSocket::disconnected);
    QByteArray answer;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { answer += socket.readAll(); });
    if (!ended.wait(10000)) {
        return "no end of connection";
    }
    return answer + socket.readAll();
}

}  // namespace

void TestHttpServerTest::cutShortSendsPartOfAnnouncedBody() {
    // Checked on a raw socket: Qt 5's network access manager may report a
    // body cut short by the server's reset as a complete reply.
    const QByteArray body(3000, 'b');
    m_Server->setReply("/cut", HttpReply::cutShort(body, 1000));
    const QByteArray answer = rawExchange(m_Server->port(), "GET /cut HTTP/1.1\r\n\r\n");
    const int headEnd = answer.indexOf("\r\n\r\n");
    QVERIFY2(headEnd > 0, answer.constData());
    QVERIFY(answer.left(headEnd).contains("Content-Length: 3000"));
    QCOMPARE(answer.mid(headEnd + 4), body.left(1000));
}

void TestHttpServerTest::malformedRequestGets400() {
    const QByteArray answer = rawExchange(m_Server->port(), "NONSENSE\r\n\r\n");
    QVERIFY2(answer.startsWith("HTTP/1.1 400 "), answer.constData());
    QVERIFY(m_Server->requests().isEmpty());
}

void TestHttpServerTest::refusesAfterStop() {
    m_Server->stop();
    const Fetched got = fetch(*m_Manager, m_Server->url("/x"));
    QVERIFY(got.done);
    QCOMPARE(got.error, QNetworkReply::ConnectionRefusedError);
}

QTEST_GUILESS_MAIN(TestHttpServerTest)
#include "tst_testhttpserver.moc"
