#include "dircreatetaskspecification.h"

#include <QDir>
#include <QFileInfo>

DirCreateTaskSpecification::DirCreateTaskSpecification(const QString &path,
                                                       RollbackDataList *rollback, QObject *parent,
                                                       double weight)
    : FastFileOpTaskSpecification(path, rollback, parent, weight) {}

bool DirCreateTaskSpecification::doOp() {
    // A trailing separator (installation paths end with one) would make the
    // last component empty and the one-level create fail.
    return createDir(QDir::cleanPath(m_Path));
}

bool DirCreateTaskSpecification::createDir(const QString &dir) {
    const QFileInfo info(dir);
    if (info.exists()) {
        if (info.isDir()) {
            return true;
        }
        emit message(
            QStringLiteral("Could not create dir '%1' because it already exists and is not a dir")
                .arg(dir));
        return false;
    }
    const QDir parent = info.dir();
    if (parent.path() == QLatin1String(".") || QDir(dir).isRoot()) {
        emit message(QStringLiteral("Could not create dir %1").arg(m_Path));
        return false;
    }
    if (!parent.exists() && !createDir(parent.path())) {
        return false;
    }
    if (!parent.mkdir(info.fileName())) {
        emit message(QStringLiteral("unable to create dir %1").arg(dir));
        return false;
    }
    addRollback(RollbackData(DIR_CREATE, dir));
    return true;
}
