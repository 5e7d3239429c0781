#include "testhttpserver.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace vxmtest {

namespace {

/// Requests larger than this are refused: the server is for small tests.
constexpr int kMaxRequestBytes = 1 << 20;
/// Time the client gets to read the bytes of a cut-short body before the
/// reset, which would otherwise discard what it has not read yet.
constexpr int kResetGraceMs = 100;
/// Piece size of an endless body; a new piece is queued whenever less than
/// one is waiting to be sent.
constexpr int kEndlessPieceBytes = 64 * 1024;
/// An endless body still stops here, so that a client that never stops
/// reading (the fault such a body tests for) ends its test quickly instead
/// of filling the disk.
constexpr qint64 kEndlessSafetyBytes = qint64(256) * 1024 * 1024;

QByteArray reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

/// Parses the request head (request line and header fields, without the
/// empty line). False for a malformed request line.
bool parseHead(const QByteArray &head, HttpRequestRecord *out) {
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/")) {
        return false;
    }
    out->method = requestLine[0];
    out->target = requestLine[1];
    const int query = out->target.indexOf('?');
    out->path = query < 0 ? out->target : out->target.left(query);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0) {
            out->headers.insert(lines[i].left(colon).trimmed().toLower(),
                                lines[i].mid(colon + 1).trimmed());
        }
    }
    return true;
}

}  // namespace

/// One client connection: reads one request, then plays its HttpReply.
class TestHttpConnection : public QObject {
    Q_OBJECT

public:
    TestHttpConnection(QTcpSocket *socket, TestHttpServer *server)
        : QObject(server), m_Socket(socket), m_Server(server) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, &TestHttpConnection::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        onReadyRead();
    }

    void abort() {
        m_Socket->abort();
        deleteLater();
    }

private:
    void onReadyRead() {
        if (m_Answering) {
            m_Socket->readAll();  // nothing more is expected on this connection
            return;
        }
        m_Buffer += m_Socket->readAll();
        if (m_Buffer.size() > kMaxRequestBytes) {
            answerBadRequest();
            return;
        }
        const int headEnd = m_Buffer.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            return;
        }
        HttpRequestRecord request;
        if (!parseHead(m_Buffer.left(headEnd), &request)) {
            answerBadRequest();
            return;
        }
        const qint64 bodyLength = request.headers.value("content-length", "0").toLongLong();
        if (bodyLength < 0 || m_Buffer.size() - headEnd - 4 < bodyLength) {
            return;  // wait for the rest of the body
        }
        m_Answering = true;
        m_Server->record(request);
        m_Reply = m_Server->replyFor(request.path);
        if (m_Reply.stall) {
            return;
        }
        QTimer::singleShot(m_Reply.headerDelayMs, this, &TestHttpConnection::sendReply);
    }

    void answerBadRequest() {
        m_Answering = true;
        m_Reply = HttpReply::withStatus(400);
        sendReply();
    }

    void sendReply() {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(m_Reply.status) + ' ' +
                          reasonPhrase(m_Reply.status) + "\r\n";
        if (!m_Reply.endless) {
            head += "Content-Length: " + QByteArray::number(m_Reply.body.size()) + "\r\n";
        }
        head += "Connection: close\r\n";
        for (const auto &field : qAsConst(m_Reply.headers)) {
            head += field.first + ": " + field.second + "\r\n";
        }
        m_Socket->write(head + "\r\n");
        if (m_Reply.resetAfterBytes >= 0) {
            m_Socket->write(m_Reply.body.left(m_Reply.resetAfterBytes));
            connect(m_Socket, &QTcpSocket::bytesWritten, this,
                    &TestHttpConnection::resetWhenFlushed);
        } else if (m_Reply.endless) {
            connect(m_Socket, &QTcpSocket::bytesWritten, this,
                    &TestHttpConnection::sendEndlessPiece);
            sendEndlessPiece();
        } else if (m_Reply.trickleBytes > 0) {
            auto *timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, &TestHttpConnection::sendPiece);
            timer->start(m_Reply.trickleIntervalMs);
        } else {
            m_Socket->write(m_Reply.body);
            m_Socket->disconnectFromHost();
        }
    }

    void sendPiece() {
        m_Socket->write(m_Reply.body.mid(m_Sent, m_Reply.trickleBytes));
        m_Sent += m_Reply.trickleBytes;
        if (m_Sent >= m_Reply.body.size()) {
            m_Socket->disconnectFromHost();
        }
    }

    void sendEndlessPiece() {
        if (m_Sent >= kEndlessSafetyBytes) {
            m_Socket->disconnectFromHost();
        } else if (m_Socket->bytesToWrite() < kEndlessPieceBytes) {
            m_Socket->write(QByteArray(kEndlessPieceBytes, 'x'));
            m_Sent += kEndlessPieceBytes;
        }
    }

    void resetWhenFlushed() {
        if (m_Socket->bytesToWrite() > 0 || m_ResetScheduled) {
            return;
        }
        m_ResetScheduled = true;
        QTimer::singleShot(kResetGraceMs, this, [this] {
#ifdef Q_OS_UNIX
            // Zero linger makes close() send RST instead of FIN.
            const struct linger zeroLinger = {1, 0};
            setsockopt(static_cast<int>(m_Socket->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                       &zeroLinger, sizeof zeroLinger);
#endif
            abort();
        });
    }

    QTcpSocket *m_Socket;
    TestHttpServer *m_Server;
    QByteArray m_Buffer;
    HttpReply m_Reply;
    bool m_Answering = false;
    bool m_ResetScheduled = false;
    qint64 m_Sent = 0;
};

HttpReply HttpReply::ok(const QByteArray &body) {
    return withStatus(200, body);
}

HttpReply HttpReply::withStatus(int status, const QByteArray &body) {
    HttpReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

HttpReply HttpReply::redirect(const QByteArray &location, int status) {
    HttpReply reply = withStatus(status);
    reply.headers.append(qMakePair(QByteArray("Location"), location));
    return reply;
}

HttpReply HttpReply::cutShort(const QByteArray &body, qint64 sentBytes) {
    HttpReply reply = ok(body);
    reply.resetAfterBytes = qMax<qint64>(0, sentBytes);
    return reply;
}

HttpReply HttpReply::silence() {
    HttpReply reply;
    reply.stall = true;
    return reply;
}

HttpReply HttpReply::trickle(const QByteArray &body, int pieceBytes, int intervalMs) {
    HttpReply reply = ok(body);
    reply.trickleBytes = qMax(1, pieceBytes);
    reply.trickleIntervalMs = qMax(0, intervalMs);
    return reply;
}

HttpReply HttpReply::endlessBody() {
    HttpReply reply;
    reply.endless = true;
    return reply;
}

HttpReply HttpReply::delayedBy(int ms) const {
    HttpReply reply = *this;
    reply.headerDelayMs = qMax(0, ms);
    return reply;
}

TestHttpServer::TestHttpServer(QObject *parent)
    : QObject(parent),
      m_Server(new QTcpServer(this)),
      m_DefaultReply(HttpReply::withStatus(404, "Not Found")) {
    connect(m_Server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
}

TestHttpServer::~TestHttpServer() {
    closeConnections();
}

bool TestHttpServer::start() {
    return m_Server->listen(QHostAddress::LocalHost, 0);
}

void TestHttpServer::stop() {
    m_Server->close();
    closeConnections();
}

quint16 TestHttpServer::port() const {
    return m_Server->serverPort();
}

QString TestHttpServer::url(const QString &path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void TestHttpServer::setReply(const QByteArray &path, const HttpReply &reply) {
    m_Replies.insert(path, reply);
}

void TestHttpServer::setDefaultReply(const HttpReply &reply) {
    m_DefaultReply = reply;
}

HttpReply TestHttpServer::replyFor(const QByteArray &path) const {
    return m_Replies.value(path, m_DefaultReply);
}

int TestHttpServer::requestCount(const QByteArray &path) const {
    int n = 0;
    for (const HttpRequestRecord &r : m_Requests) {
        n += r.path == path ? 1 : 0;
    }
    return n;
}

void TestHttpServer::closeConnections() {
    const QList<TestHttpConnection *> connections =
        findChildren<TestHttpConnection *>(QString(), Qt::FindDirectChildrenOnly);
    for (TestHttpConnection *c : connections) {
        c->abort();
    }
}

void TestHttpServer::record(const HttpRequestRecord &request) {
    m_Requests.append(request);
    emit requestReceived(request.path);
}

void TestHttpServer::onNewConnection() {
    while (QTcpSocket *socket = m_Server->nextPendingConnection()) {
        new TestHttpConnection(socket, this);
    }
}

quint16 refusingPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) {
        return 0;
    }
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

}  // namespace vxmtest

#include "testhttpserver.moc"
