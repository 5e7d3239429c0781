#pragma once

// Shared set-up of the download tests: a scriptable server on 127.0.0.1
// that the file URLs point at, a network manager, and a configuration whose
// temporary directory is a fresh directory of its own.

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QScopedPointer>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>

#include "configuration.h"
#include "taskspecification.h"
#include "testhttpserver.h"

class DownloadTestEnv : public QObject {
    Q_OBJECT

public:
    /// Version folder used for every URL.
    static constexpr int kVersion = 7;

    DownloadTestEnv();

    /// True when the server listens and the temporary directory exists.
    bool isReady() const { return m_Listening && m_Dir.isValid(); }

    /// The server path of a file: "/files/<version>/" + serverName.
    static QByteArray serverPath(const QString &serverName);
    /// Serves `first` for the first request of the path and `later` for
    /// every request after it.
    void serveAfterFirst(const QString &serverName, const vxmtest::HttpReply &first,
                         const vxmtest::HttpReply &later);
    void serve(const QString &serverName, const vxmtest::HttpReply &reply);
    int requestCount(const QString &serverName) const;

    /// m_TempDir + "/" + name.
    QString localPath(const QString &name) const;
    QByteArray readLocal(const QString &name) const;

    /// `size` bytes of a non-repeating pattern.
    static QByteArray pattern(int size, char seed = 'a');
    static QString sha512Hex(const QByteArray &data);

    vxmtest::TestHttpServer m_Server;
    QNetworkAccessManager m_Manager;
    Configuration m_Configuration;

private:
    QTemporaryDir m_Dir;
    bool m_Listening = false;
};

/// Records what a task reports and waits for its end.
class TaskProbe {
public:
    explicit TaskProbe(TaskSpecification *task);

    /// Waits (bounded) until the task has ended through finished or canceled.
    bool waitForEnd();
    QStringList messages() const;
    QStringList errors() const;
    int ends() const { return m_Finished.count() + m_Canceled.count(); }

private:
    QSignalSpy m_Finished;
    QSignalSpy m_Canceled;
    QSignalSpy m_Messages;
    QSignalSpy m_Errors;
};
