#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "protobufhelper.h"
#include "versionquery.h"

/// Asks the version server which version each channel offers.
///
/// startCheck() runs one GET on an HTTPDownloader thread; the answer (or any
/// failure) ends in exactly one update_available, emitted on this object's
/// thread, after which the checker deletes itself.
class UpdateChecker : public QObject {
    Q_OBJECT

public:
    /// `url` is the version server to ask; the built-in server by default.
    explicit UpdateChecker(QObject *parent,
                           const QString &url = QString::fromUtf8(versionServerUrl));

    /// Starts the query. Call once.
    void startCheck();

signals:
    /// Every channel of the answer; empty for every kind of failure
    /// (no network, HTTP error status, a body that is no Versions message).
    void update_available(UpdateVersions versions);

private slots:
    void on_updateCheckAvailable(const QByteArray &updateData);

private:
    const QString m_Url;
};

/// The channel map of a version server answer; empty when `body` is not
/// a complete Versions message.
UpdateVersions updateVersionsFromBody(const QByteArray &body);
