#pragma once

// A scriptable HTTP/1.1 server for tests, listening on 127.0.0.1.
//
// Every request path can be given its own HttpReply: a status with a body,
// a redirect, a body cut short followed by a connection reset, silence, a
// slow trickle, and a delay before the headers. Unknown paths get 404.
// Every connection carries one request and is closed after the answer
// ("Connection: close"). Note that QNetworkAccessManager resends a request
// whose connection closes before any answer byte arrives. The server and its connections live on
// the thread that created the server and need that thread's event loop; the clients may run on any
// thread.
//
//     vxmtest::TestHttpServer server;
//     QVERIFY(server.start());
//     server.setReply("/v", vxmtest::HttpReply::ok("body"));
//     server.setReply("/gone", vxmtest::HttpReply::withStatus(404, "no"));
//     server.setReply("/cut", vxmtest::HttpReply::cutShort(body, 100));
//     ... GET server.url("/v") ...
//     QCOMPARE(server.requestCount("/v"), 1);

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>

class QTcpServer;

namespace vxmtest {

/// How the server answers one path.
struct HttpReply {
    int status = 200;
    QByteArray body;
    /// Extra header lines (name, value), sent after Content-Length and
    /// Connection.
    QList<QPair<QByteArray, QByteArray>> headers;
    /// Wait this long after the request before sending anything.
    int headerDelayMs = 0;
    /// At least 0: send only this many bytes of the body (Content-Length
    /// still announces the whole body), then reset the connection (RST).
    /// Qt 5's QNetworkAccessManager may finish such a reply without error
    /// and with the short body, so clients must compare the length.
    qint64 resetAfterBytes = -1;
    /// Read and record the request, then never answer; the connection stays
    /// open until the client gives up or closeConnections() is called.
    bool stall = false;
    /// Above 0: send the body in pieces of this many bytes, one piece every
    /// trickleIntervalMs.
    int trickleBytes = 0;
    int trickleIntervalMs = 0;
    /// Send no Content-Length and then a body without end, for as long as
    /// the client keeps reading (up to a safety cap of 256 MiB).
    bool endless = false;

    static HttpReply ok(const QByteArray &body);
    static HttpReply withStatus(int status, const QByteArray &body = QByteArray());
    /// `status` (302 by default) with a Location header.
    static HttpReply redirect(const QByteArray &location, int status = 302);
    /// The headers of the whole `body`, `sentBytes` of it, then a reset.
    static HttpReply cutShort(const QByteArray &body, qint64 sentBytes);
    static HttpReply silence();
    static HttpReply trickle(const QByteArray &body, int pieceBytes, int intervalMs);
    /// Status 200 with a body that never ends.
    static HttpReply endlessBody();
    /// This reply, sent only after `ms` milliseconds.
    HttpReply delayedBy(int ms) const;
};

/// One request as the server received it.
struct HttpRequestRecord {
    QByteArray method;
    QByteArray target;  ///< as on the request line, query included
    QByteArray path;    ///< the target without its query
    /// Header fields; names in lower case.
    QMap<QByteArray, QByteArray> headers;
};

class TestHttpServer : public QObject {
    Q_OBJECT

public:
    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    /// Listens on 127.0.0.1 at a free port. False when that fails.
    bool start();
    /// Stops listening and aborts every open connection; later connection
    /// attempts to port() are refused.
    void stop();
    quint16 port() const;
    /// "http://127.0.0.1:<port>" followed by `path` (which starts with "/").
    QString url(const QString &path) const;

    /// The answer for requests whose path (without query) is `path`.
    void setReply(const QByteArray &path, const HttpReply &reply);
    /// The answer for every path without its own reply (404 at start).
    void setDefaultReply(const HttpReply &reply);
    HttpReply replyFor(const QByteArray &path) const;

    /// Every request received, in order of arrival.
    QList<HttpRequestRecord> requests() const { return m_Requests; }
    int requestCount(const QByteArray &path) const;
    void clearRequests() { m_Requests.clear(); }

    /// Aborts every open connection (stalled, trickling or delayed ones).
    void closeConnections();

    /// Called by a connection when a complete request has arrived.
    void record(const HttpRequestRecord &request);

signals:
    /// A complete request for `path` has arrived (before it is answered).
    void requestReceived(QByteArray path);

private:
    void onNewConnection();

    QTcpServer *m_Server;
    QMap<QByteArray, HttpReply> m_Replies;
    HttpReply m_DefaultReply;
    QList<HttpRequestRecord> m_Requests;
};

/// A port on 127.0.0.1 that refuses connections (nothing listens there).
quint16 refusingPort();

}  // namespace vxmtest
