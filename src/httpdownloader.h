#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QThread>

class QNetworkReply;

/// A thread that performs one HTTP GET and hands back the body.
///
/// The network access manager, the reply and the reading of the body all
/// stay on the downloader's own thread; only the finished bytes cross to
/// the receiver, through download_available. The object deletes itself
/// (on its owner's thread) once the thread has finished, so it is created
/// with `new`, without a parent, and started once.
class HTTPDownloader : public QThread {
    Q_OBJECT

public:
    explicit HTTPDownloader(const QNetworkRequest &request);

signals:
    /// The body of a reply without error, or an empty array for any
    /// failure (network error, HTTP error status). Emitted on the
    /// downloader's thread: connect with the automatic or queued type so the
    /// receiver's slot runs on the receiver's thread.
    void download_available(QByteArray data);

protected:
    void run() override;

private slots:
    /// Runs on the downloader's thread: emits the body, disposes of the
    /// reply and ends the thread's event loop.
    virtual void on_downloadFinished(QNetworkReply *reply);

private:
    const QNetworkRequest m_Request;
};
