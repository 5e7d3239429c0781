#include "updatechecker.h"

#include <QNetworkRequest>
#include <QUrl>

#include "httpdownloader.h"

UpdateChecker::UpdateChecker(QObject *parent, const QString &url) : QObject(parent), m_Url(url) {}

void UpdateChecker::startCheck() {
    const QNetworkRequest request(QUrl(m_Url, QUrl::TolerantMode));
    auto *downloader = new HTTPDownloader(request);
    connect(downloader, &HTTPDownloader::download_available, this,
            &UpdateChecker::on_updateCheckAvailable);
    downloader->start();
}

void UpdateChecker::on_updateCheckAvailable(const QByteArray &updateData) {
    emit update_available(updateVersionsFromBody(updateData));
    deleteLater();
}

UpdateVersions updateVersionsFromBody(const QByteArray &body) {
    UpdateVersions versions;
    VersionInfo info;
    // constData() is never null, so an empty body is reported as malformed
    // (the required licenseAgreementId is missing), not as a null argument.
    const int res = parseVersions(reinterpret_cast<const unsigned char *>(body.constData()),
                                  static_cast<unsigned>(body.size()), &info);
    if (res != kParseVersionsOk) {
        return versions;
    }
    for (const std::string &name : info.channelNames) {
        versions.insert(QString::fromStdString(name),
                        qMakePair(QString::number(versionNumberOf(info, name)),
                                  QString::fromStdString(versionStringOf(info, name))));
    }
    return versions;
}
