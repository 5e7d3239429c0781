#include "downloadtestenv.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTest>

namespace {

/// Generous bound for every wait: a loaded machine must not fail a test.
constexpr int kWaitMs = 60000;

QStringList firstArguments(const QSignalSpy &spy) {
    QStringList texts;
    for (const QList<QVariant> &call : spy) {
        texts.append(call.value(0).toString());
    }
    return texts;
}

}  // namespace

DownloadTestEnv::DownloadTestEnv() {
    m_Listening = m_Server.start();
    updateBaseUrl = m_Server.url(QStringLiteral("/files/"));
    m_Configuration.m_VersionNumber = kVersion;
    m_Configuration.m_TempDir = m_Dir.path();
    m_Configuration.m_Streams = 6;
}

QByteArray DownloadTestEnv::serverPath(const QString &serverName) {
    return "/files/" + QByteArray::number(kVersion) + '/' + serverName.toUtf8();
}

void DownloadTestEnv::serve(const QString &serverName, const vxmtest::HttpReply &reply) {
    m_Server.setReply(serverPath(serverName), reply);
}

void DownloadTestEnv::serveAfterFirst(const QString &serverName, const vxmtest::HttpReply &first,
                                      const vxmtest::HttpReply &later) {
    const QByteArray path = serverPath(serverName);
    m_Server.setReply(path, first);
    // The server records a request before it picks the reply, so switching
    // on the second record gives the second request the later reply.
    connect(&m_Server, &vxmtest::TestHttpServer::requestReceived, this,
            [this, path, later](const QByteArray &received) {
                if (received == path && m_Server.requestCount(path) == 2) {
                    m_Server.setReply(path, later);
                }
            });
}

int DownloadTestEnv::requestCount(const QString &serverName) const {
    return m_Server.requestCount(serverPath(serverName));
}

QString DownloadTestEnv::localPath(const QString &name) const {
    return m_Configuration.m_TempDir + QLatin1Char('/') + name;
}

QByteArray DownloadTestEnv::readLocal(const QString &name) const {
    QFile file(localPath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray DownloadTestEnv::pattern(int size, char seed) {
    QByteArray data(size, Qt::Uninitialized);
    quint32 x = quint32(seed) * 2654435761U + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245U + 12345U;
        data[i] = char(x >> 24);
    }
    return data;
}

QString DownloadTestEnv::sha512Hex(const QByteArray &data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha512).toHex());
}

TaskProbe::TaskProbe(TaskSpecification *task)
    : m_Finished(task, &TaskSpecification::finished),
      m_Canceled(task, &TaskSpecification::canceled),
      m_Messages(task, &TaskSpecification::message),
      m_Errors(task, &TaskSpecification::error) {}

bool TaskProbe::waitForEnd() {
    return QTest::qWaitFor([this] { return ends() > 0; }, kWaitMs);
}

QStringList TaskProbe::messages() const {
    return firstArguments(m_Messages);
}

QStringList TaskProbe::errors() const {
    return firstArguments(m_Errors);
}
