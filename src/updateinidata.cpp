#include "updateinidata.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "configuration.h"

namespace {

const QString kGroup = QStringLiteral("current");

/// Writes the four session values into `settings`' "current" group,
/// synchronises and returns the settings status (0 = no error).
int writeSession(QSettings &settings, int version, const QString &dir, const QString &vxmdir,
                 const QString &type) {
    settings.beginGroup(kGroup);
    settings.setValue(QStringLiteral("version"), version);
    settings.setValue(QStringLiteral("dir"), dir);
    settings.setValue(QStringLiteral("vxmdir"), vxmdir);
    settings.setValue(QStringLiteral("type"), type);
    settings.endGroup();
    settings.sync();
    return static_cast<int>(settings.status());
}

}  // namespace

QString UpdateIniData::updateIniPath() {
    return QFileInfo(QDir(Configuration::updaterBaseDir()), QStringLiteral("update.ini"))
        .absoluteFilePath();
}

bool UpdateIniData::get(int *version, QString *type, QString *dir, QString *vxmdir) {
    const QString path = updateIniPath();
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(kGroup);
    bool versionOk = false;
    const int iniVersion = settings.value(QStringLiteral("version")).toInt(&versionOk);
    const QString iniDir = settings.value(QStringLiteral("dir")).toString();
    const QString iniVxmDir = settings.value(QStringLiteral("vxmdir")).toString();
    const QString iniType = settings.value(QStringLiteral("type")).toString();
    settings.endGroup();
    qDebug() << "get" << path << iniVersion << iniDir << iniVxmDir << iniType;

    const bool valid =
        versionOk && !iniType.isEmpty() && !iniDir.isEmpty() && QFileInfo::exists(iniDir);
    if (!valid) {
        return false;
    }
    if (version != nullptr) {
        *version = iniVersion;
    }
    if (dir != nullptr) {
        *dir = iniDir;
    }
    if (vxmdir != nullptr) {
        *vxmdir = iniVxmDir;
    }
    if (type != nullptr) {
        *type = iniType;
    }
    return true;
}

bool UpdateIniData::modify(int version, const QString &dir, const QString &vxmdir,
                           const QString &type) {
    const QString path = updateIniPath();
    qDebug() << "modify" << path << version << dir << vxmdir << type;
    QSettings settings(path, QSettings::IniFormat);
    const int status = writeSession(settings, version, dir, vxmdir, type);
    qDebug() << "UpdateiniData::modify write result" << status;
    return status == QSettings::NoError;
}

bool UpdateIniData::modifyTempIni(const QString &dirPath) {
    const QString tempIniPath = dirPath + QStringLiteral("/") + QStringLiteral("update.ini");
    qDebug() << "modifyTempIni" << tempIniPath;
    int version = 0;
    QString type;
    QString dir;
    QString vxmdir;
    if (!get(&version, &type, &dir, &vxmdir)) {
        qDebug() << "Failed to read existing update.ini";
        return false;
    }
    QSettings settings(tempIniPath, QSettings::IniFormat);
    // The copy describes the second pass, which updates the client.
    const int status =
        writeSession(settings, version, dir, vxmdir, Configuration::defaultClientType(1));
    qDebug() << "UpdateiniData::modifyTempIni write result" << status;
    return status == QSettings::NoError;
}
