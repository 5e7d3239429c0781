#include "configuration.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QWidget>

#include "updatechecker.h"
#include "vxm_build_config.h"

QString updateBaseUrl;

namespace {

QString &baseDirOverride() {
    static QString dir;
    return dir;
}

QString builtInBaseUrl() {
    return QString::fromUtf8(vxm::build::kUpdateBaseUrl);
}

QString withTrailingSlash(QString text) {
    if (!text.endsWith(QLatin1Char('/'))) {
        text += QLatin1Char('/');
    }
    return text;
}

QWidget *mainWindowWidget() {
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        if (widget->objectName() == QLatin1String("MainWindow")) {
            return widget;
        }
    }
    return nullptr;
}

}  // namespace

Configuration::Configuration(QObject *parent) : QObject(parent) {}

QString Configuration::updaterBaseDir() {
    if (!baseDirOverride().isEmpty()) {
        return baseDirOverride();
    }
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../../../");
}

void Configuration::overrideUpdaterBaseDir(const QString &dir) {
    baseDirOverride() = dir.isEmpty() ? QString() : withTrailingSlash(dir);
}

QString Configuration::defaultClientType(int isClientUpdate) {
    return QString::fromLatin1(isClientUpdate != 0 ? "client" : "update") +
           QStringLiteral("_macosx");
}

QString Configuration::configDir() {
    const QString fromEnv = qEnvironmentVariable("VXM_CONFIG_DIR");
    if (!fromEnv.isEmpty()) {
        return fromEnv.endsWith(QDir::separator()) ? fromEnv : fromEnv + QDir::separator();
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Voxmere/");
}

bool Configuration::parseCommandLineOptions() {
    return parseCommandLineOptions(QCoreApplication::arguments());
}

bool Configuration::parseCommandLineOptions(QStringList words) {
    qDebug() << "parseCommandLineOptions" << words;
    if (words.size() <= 1) {
        words = readArgsFile();
    }
    const QString word1 = words.value(1);
    m_IsClientUpdate = word1 == QLatin1String("--clientupdate") ? 1 : 0;
    getUpdateChannel();

    bool queryStarted = false;
    if (word1 == QLatin1String("--clientupdate") || word1 == QLatin1String("--nouser")) {
        qDebug() << "CLIENTUPDATE" << (m_IsClientUpdate != 0);
        if (words.size() >= 4 && !parseTypeAndVersion(words, 2)) {
            return false;
        }
        if (words.size() >= 5 && words.at(4) != QLatin1String("#")) {
            m_VersionString = words.at(4);
        }
        queryStarted = getDefaultParameters();
    } else if (words.size() == 3) {
        if (!parseTypeAndVersion(words, 1)) {
            return false;
        }
    } else {
        qDebug() << "Empty cmdline params";
        queryStarted = getDefaultParameters();
    }
    if (!queryStarted) {
        m_Ready = true;
    }
    return true;
}

QStringList Configuration::readArgsFile() {
    QFile file(QDir::tempPath() + QStringLiteral("/vxmclientupdateargs"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QByteArray bytes = file.readAll();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0) {
        bytes.truncate(zero);
    }
    QStringList words = QString::fromLatin1(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    words.prepend(QString());
    return words;
}

void Configuration::getUpdateChannel() {
    qDebug() << "Searching update.ini";
    QString path = configDir() + QStringLiteral("update.ini");
    bool exists = QFileInfo::exists(path);
    qDebug() << "Update ini check #1 in CONFIG" << path << exists;
    if (exists) {
        qDebug() << "Found CONFIG/update.ini";
    } else {
        path = updaterBaseDir() + QStringLiteral("/update.ini");
        exists = QFileInfo::exists(path);
        qDebug() << "Update ini check #2 in INSTALL" << path << exists;
        if (exists) {
            qDebug() << "Found INSTALL/update.ini";
        }
    }
    if (!exists) {
        m_Channel = 0;
        m_VersionNumber = 0;
        updateBaseUrl = builtInBaseUrl();
        qDebug() << "No update.ini found, using stable channel, URL =" << updateBaseUrl;
        return;
    }

    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Channel"));
    const QString alpha = settings.value(QStringLiteral("alpha")).toString();
    bool beta = settings.value(QStringLiteral("beta"), false).toBool();
    if (!beta) {
        beta = settings.value(QStringLiteral("Beta"), false).toBool();
    }
    if (!alpha.isEmpty()) {
        m_Channel = 2;
        m_VersionNumber = settings.value(QStringLiteral("alphaRevno"), 0).toInt();
        updateBaseUrl = withTrailingSlash(alpha);
        qDebug() << "Alpha channel detected, URL =" << updateBaseUrl;
    } else {
        m_Channel = beta ? 1 : 0;
        m_VersionNumber = 0;
        updateBaseUrl = builtInBaseUrl();
        qDebug() << (beta ? "Beta" : "Stable") << "channel detected, URL =" << updateBaseUrl;
    }
    settings.endGroup();
}

bool Configuration::getDefaultParameters() {
    qDebug() << "getDefaultParameters" << m_ClientType;
    if (m_ClientType.isEmpty()) {
        m_ClientType = defaultClientType(m_IsClientUpdate);
    }
    qDebug() << "clientType" << m_ClientType;
    if (m_VersionNumber != 0) {
        return false;
    }
    // The checker deletes itself once it has delivered its answer.
    auto *checker = new UpdateChecker(this);
    connect(checker, &UpdateChecker::update_available, this, &Configuration::on_updateAvailable);
    checker->startCheck();
    return true;
}

bool Configuration::parseTypeAndVersion(const QStringList &words, int index) {
    m_ClientType = words.at(index);
    return parseVersionNumber(words.at(index + 1), tr("Invalid version nr (%1)"));
}

bool Configuration::parseVersionNumber(const QString &text, const QString &message) {
    if (m_VersionNumber != 0) {
        return true;  // an alpha revision from update.ini takes precedence
    }
    bool ok = false;
    m_VersionNumber = text.toInt(&ok);
    if (!ok) {
        emit fatalError(message.arg(text));
        return false;
    }
    return true;
}

void Configuration::on_updateAvailable(const UpdateVersions &versions) {
    qDebug() << "on_updateAvailable" << versions;
    if (versions.isEmpty()) {
        reportVersionQueryFailed();
        return;
    }
    const QPair<QString, QString> entry = versionForChannel(versions, m_Channel);
    qDebug() << "Received version from remote server:" << entry;
    if (entry.first.isEmpty()) {
        emit fatalError(tr("Update server returned no version"));
        return;
    }
    if (parseVersionNumber(entry.first, tr("Update server returned invalid version nr (%1)"))) {
        m_VersionString = entry.second;
        m_Ready = true;
        emit ready();
    }
}

void Configuration::reportVersionQueryFailed() {
    const QString text = tr("Failed to query latest client\nversion from update server.");
    // The log tells what the user was shown, as for the window's boxes.
    qDebug() << "Message box" << tr("Error") << text;
    QMessageBox box(QMessageBox::Critical, tr("Error"), text, QMessageBox::Abort,
                    mainWindowWidget());
    box.exec();
    QCoreApplication::exit(0);
}

bool Configuration::initalizeStart(const QString &tempDir, const QString &installDir) {
    qDebug() << "initalizeStart" << tempDir << installDir;
    if (!tempDir.isEmpty()) {
        m_TempDir = tempDir;
    } else if (!createTempDir()) {
        return false;
    }
    m_InstallDir = !installDir.isEmpty() ? installDir : updaterBaseDir() + QStringLiteral("../");
    return true;
}

bool Configuration::createTempDir() {
    QString base = QDir::tempPath();
    if (base.isEmpty()) {
        qDebug() << "*Error* Unable to get temp directory";
        emit fatalError(QStringLiteral("Unable to get temp directory."));
        return false;
    }
    base = withTrailingSlash(base) + QStringLiteral("voxmere_temp_");
    for (int n = 0; n < 1000; ++n) {
        const QString candidate = base + QString::number(n);
        if (QFileInfo::exists(candidate)) {
            continue;
        }
        if (QDir().mkpath(candidate)) {
            m_TempDir = candidate;
            return true;
        }
    }
    qDebug() << "*Error* Unable to create temp directory";
    emit fatalError(QStringLiteral("Unable to create temp directory."));
    return false;
}

void Configuration::loadUpdateSettings() {
    QSettings settings(updaterBaseDir() + QStringLiteral("/update.ini"), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("update"));
    m_Proxy = settings.value(QStringLiteral("proxy")).toString();
    m_Streams = settings.value(QStringLiteral("streams"), 6).toInt();
    if (m_Streams < 1) {
        m_Streams = 6;
    }
    settings.endGroup();
}
