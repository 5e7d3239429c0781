#include "httpdownloader.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

HTTPDownloader::HTTPDownloader(const QNetworkRequest &request)
    : QThread(nullptr), m_Request(request) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void HTTPDownloader::run() {
    QNetworkAccessManager manager;
    // The manager is the context object, so the handler runs on this thread
    // (where the reply lives) instead of the downloader object's thread.
    connect(&manager, &QNetworkAccessManager::finished, &manager,
            [this](QNetworkReply *reply) { on_downloadFinished(reply); });
    QNetworkReply *reply = manager.get(m_Request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kMaxBodyBytes) {
            reply->abort();
        }
    });
    exec();
    // The manager goes out of scope here, still on this thread, and takes
    // any remaining reply with it.
}

void HTTPDownloader::on_downloadFinished(QNetworkReply *reply) {
    // The progress handler stops a long body early, but the last piece may
    // arrive with the end of the reply; the size check decides.
    QByteArray data;
    if (reply->error() == QNetworkReply::NoError && reply->bytesAvailable() <= kMaxBodyBytes) {
        data = reply->readAll();
    }
    emit download_available(data);
    reply->deleteLater();
    quit();
}
