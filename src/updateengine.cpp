#include "updateengine.h"

#include <cstdlib>
#include <ctime>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTimer>
#include <QUrl>

#include "configuration.h"
#include "maintaskspecification.h"
#include "processtools.h"
#include "rsacrypt.h"
#include "updateinidata.h"

namespace {

const char *const kOldFileNames[] = {
    "update",         "libQtCore.so.4",  "libQtGui.so.4",  "libQtNetwork.so.4",
    "libQtSql.so.4",  "libQt5Core.so.5", "libQt5Gui.so.5", "libQt5Network.so.5",
    "libQt5Sql.so.5", "libqgif.so",      "libqjpeg.so",    "libqtaccessiblewidgets.so",
    "libsqlite.so",
};

const char *const kQt4Frameworks[] = {"QtCore.framework", "QtGui.framework", "QtNetwork.framework",
                                      "QtSql.framework"};

const char *const kSiblingTools[] = {"crash_sender", "plugin_setup", "update"};

constexpr int kPollIntervalMs = 1000;
constexpr quint16 kDefaultProxyPort = 3128;

}  // namespace

void UpdateEngine::removeOldFiles(const QString &dir) {
    const QDir directory(dir);
    for (const char *name : kOldFileNames) {
        const QString path =
            directory.absoluteFilePath(QStringLiteral("_old_") + QLatin1String(name));
        if (QFileInfo::exists(path)) {
            qDebug() << "Remove old file:" << path;
            QFile::remove(path);
        }
    }
}

void UpdateEngine::removeQt4Files(const QString &dir) {
    const QDir frameworks(dir + QStringLiteral("../Frameworks"));
    for (const char *framework : kQt4Frameworks) {
        const QString path = frameworks.absoluteFilePath(QLatin1String(framework));
        const QFileInfo info(path);
        if (info.isDir() && !info.isSymLink()) {
            qDebug() << "Remove Qt4 dir:" << path;
            QDir(path).removeRecursively();
        }
    }
    for (const char *tool : kSiblingTools) {
        const QString toolFrameworks =
            dir + QLatin1String(tool) + QStringLiteral(".app/Contents/Frameworks/");
        for (const char *framework : kQt4Frameworks) {
            // The entries are links; unlinking cannot remove a real directory.
            QFile::remove(toolFrameworks + QLatin1String(framework));
        }
    }
}

void UpdateEngine::removeDirRecursively(const QString &path) {
    QDir dir(path);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        // A link is removed as a link, never followed into what it names.
        if (entry.isDir() && !entry.isSymLink()) {
            removeDirRecursively(entry.absoluteFilePath());
            dir.rmdir(entry.fileName());
        } else {
            QFile::remove(entry.absoluteFilePath());
        }
    }
}

bool UpdateEngine::isSessionTempDir(const QString &path) {
    const QFileInfo info(QDir::cleanPath(path));
    return info.isDir() && !info.isSymLink() &&
           info.fileName().startsWith(QLatin1String("voxmere_temp_"));
}

UpdateEngine::UpdateEngine(Configuration *configuration, QObject *parent)
    : QObject(parent),
      m_Config(configuration),
      m_Timer(new QTimer(this)),
      m_Network(new QNetworkAccessManager(this)) {
    connect(m_Config, &Configuration::message, this, &UpdateEngine::message);
    connect(m_Timer, &QTimer::timeout, this, &UpdateEngine::onTimer);
    m_Config->loadUpdateSettings();
    configureProxy();
}

void UpdateEngine::configureProxy() {
    if (m_Config->m_Proxy.isEmpty()) {
        // Explicit, so that no system proxy is picked up.
        m_Network->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        return;
    }
    const QUrl url(m_Config->m_Proxy, QUrl::TolerantMode);
    if (url.isValid()) {
        m_Network->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, url.host(QUrl::FullyDecoded),
                                          static_cast<quint16>(url.port(kDefaultProxyPort))));
        return;
    }
    m_NetworkUnusable = true;
    const QString text =
        QStringLiteral("'%1' is an invalid proxy specification").arg(m_Config->m_Proxy);
    // The engine is built inside the window's constructor, before anyone
    // listens; queued, the report reaches the window once the loop runs.
    QMetaObject::invokeMethod(
        this, [this, text] { emit fatalError(text); }, Qt::QueuedConnection);
}

bool UpdateEngine::initialize() {
    Q_ASSERT_X(m_State == PRE_INIT, Q_FUNC_INFO, "m_State == PRE_INIT");
    if (m_NetworkUnusable) {
        qDebug() << "No session without a usable network configuration";
        return false;
    }
    try {
        RsaCrypt::registerAlgorithms();
    } catch (const crypt_exception &e) {
        emit fatalError(QString::fromLocal8Bit(e.what()));
        return false;
    }
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    QString tempDir;
    QString installDir;
    takeRecordedSession(&tempDir, &installDir);
    if (!m_Config->initalizeStart(tempDir, installDir)) {
        return false;
    }
    qDebug() << "initialize"
             << "modifying update.ini" << m_Config->m_IsClientUpdate;
    if (!UpdateIniData::modify(m_Config->m_VersionNumber, m_Config->m_TempDir,
                               m_Config->m_InstallDir, m_Config->m_ClientType)) {
        qDebug() << "Failed to write to update.ini";
        emit error(
            QStringLiteral("Failed to write update.ini. The updater does not seem to have "
                           "the required write permissions."));
        return false;
    }
    m_State = POST_INIT;
    return true;
}

void UpdateEngine::takeRecordedSession(QString *tempDir, QString *installDir) {
    int version = 0;
    QString dir;
    QString vxmdir;
    if (!UpdateIniData::get(&version, nullptr, &dir, &vxmdir)) {
        return;
    }
    qDebug() << "Current version =" << version << "/ new version =" << m_Config->m_VersionNumber;
    if (!isSessionTempDir(dir)) {
        // Not a directory this updater created: neither continue in it nor
        // delete it.
        emit message(QStringLiteral("Recorded session directory %1 is not an updater temporary "
                                    "directory; it is left in place and the record is dropped")
                         .arg(dir));
        QFile::remove(UpdateIniData::updateIniPath());
        return;
    }
    if (version == m_Config->m_VersionNumber) {
        qDebug() << "Continuing previous session";
        emit message(QStringLiteral("Previous update session for v. %1 found").arg(version));
        *tempDir = dir;
        *installDir = vxmdir;
        return;
    }
    qDebug() << "Cleaning up previous session";
    emit message(
        QStringLiteral("Cleanup previous session (v. %1, %2) files...").arg(version).arg(dir));
    discardRecordedSession(dir);
}

void UpdateEngine::discardRecordedSession(const QString &tempDir) {
    removeSessionDir(tempDir);
    QFile::remove(UpdateIniData::updateIniPath());
}

void UpdateEngine::removeSessionDir(const QString &tempDir) {
    if (!isSessionTempDir(tempDir)) {
        emit message(QStringLiteral("Not deleting %1: it is not an updater temporary directory")
                         .arg(tempDir));
        return;
    }
    const QString cleanDir = QDir::cleanPath(tempDir);
    removeDirRecursively(cleanDir);
    QDir parent(cleanDir);
    if (!parent.cdUp()) {
        return;
    }
    const bool removed = parent.rmdir(QFileInfo(cleanDir).fileName());
    emit message(removed ? QStringLiteral("Ok") : QStringLiteral("Failed to remove directory"));
}

TaskSpecification *UpdateEngine::createMainTask(QNetworkAccessManager *manager,
                                                Configuration *configuration) {
    return new MainTaskSpecification(manager, configuration, this, 1.0);
}

bool UpdateEngine::startUpdate() {
    Q_ASSERT_X(m_State == POST_INIT, Q_FUNC_INFO, "m_State == POST_INIT");
    qDebug() << "Starting update";
    m_MainTask = createMainTask(m_Network, m_Config);
    connect(m_MainTask, &TaskSpecification::finished, this, &UpdateEngine::onTaskFinished);
    connect(m_MainTask, &TaskSpecification::canceled, this, &UpdateEngine::onTaskCanceled);
    connect(m_MainTask, &TaskSpecification::error, this, &UpdateEngine::error);
    connect(m_MainTask, &TaskSpecification::updateProgress, this, &UpdateEngine::updateProgress);
    connect(m_MainTask, &TaskSpecification::message, this, &UpdateEngine::message);
    m_State = RUNNING;
    m_Timer->start(kPollIntervalMs);
    m_MainTask->execute();
    return true;
}

bool UpdateEngine::isSessionActive() const {
    return m_State == POST_INIT || m_State == RUNNING;
}

void UpdateEngine::cancelUpdate() {
    if (m_State == RUNNING && m_MainTask != nullptr) {
        m_MainTask->cancel();
    }
}

void UpdateEngine::resetAfterCancel() {
    Q_ASSERT_X(m_State == CANCELED, Q_FUNC_INFO, "m_State==CANCELED");
    m_State = PRE_INIT;
    if (m_MainTask != nullptr) {
        disconnect(m_MainTask, nullptr, this, nullptr);
        dropMainTask();
    }
}

void UpdateEngine::onTimer() {
    if (m_State != RUNNING || m_MainTask == nullptr) {
        return;
    }
    quint64 done = 0;
    quint64 total = 0;
    quint64 speed = 0;
    bool downloading = false;
    m_MainTask->getDownloadProgress(done, total, speed, downloading);
    emit downloadProgress(done, total, speed, downloading);
}

void UpdateEngine::onTaskFinished() {
    m_Timer->stop();
    cleanup();
    m_State = FINISHED;
    emit message(QStringLiteral("Update successfully finished"));
    dropMainTask();
    emit downloadProgress(0, 0, 0, false);
    emit updateFinished();
}

void UpdateEngine::onTaskCanceled() {
    m_Timer->stop();
    m_State = CANCELED;
    if (m_MainTask != nullptr && m_MainTask->state() == Canceled) {
        emit message(QStringLiteral("User aborted update"));
    }
    dropMainTask();
    emit downloadProgress(0, 0, 0, false);
    emit updateCanceled();
}

void UpdateEngine::dropMainTask() {
    if (m_MainTask != nullptr) {
        m_MainTask->deleteLater();
        m_MainTask = nullptr;
    }
}

void UpdateEngine::cleanup() {
    qDebug() << "cleanup";
    if (m_Config->m_IsClientUpdate != 0) {
        qDebug() << "Removing temporary files";
        emit message(QStringLiteral("Remove temporary files..."));
        QString dir;
        if (UpdateIniData::get(nullptr, nullptr, &dir, nullptr)) {
            discardRecordedSession(dir);
        }
        QFile::remove(ProcessTools::argsFilePath());
        emit message(QStringLiteral("Temporary files removed."));
        return;
    }
    // The session lives on in the new updater's own copy of update.ini.
    const QString path = UpdateIniData::updateIniPath();
    QFile::remove(path);
    qDebug() << "Deleted local update.ini" << path;
    emit message(QStringLiteral("Removed temporary update.ini"));
}
