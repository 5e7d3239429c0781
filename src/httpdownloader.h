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
///
/// A body longer than kMaxBodyBytes ends the transfer as a failure: the
/// answers this class fetches are small, and an endless body from a broken
/// or hostile server must not grow the process's memory without bound.
class HTTPDownloader : public QThread {
    Q_OBJECT

public:
    static constexpr qint64 kMaxBodyBytes = qint64(1) << 20;

    explicit HTTPDownloader(const QNetworkRequest &request);

signals:
    /// The body of a reply without error, or an empty array for any
    /// failure (network error, HTTP error status, a body over the cap). Emitted on the
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
