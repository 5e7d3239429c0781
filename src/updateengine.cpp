#include "updateengine.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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
