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
    manager.get(m_Request);
    exec();
    // The manager goes out of scope here, still on this thread, and takes
    // any remaining reply with it.
}

void HTTPDownloader::on_downloadFinished(QNetworkReply *reply) {
    const QByteArray data =
        reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    emit download_available(data);
    reply->deleteLater();
    quit();
}
