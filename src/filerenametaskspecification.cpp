#include "filerenametaskspecification.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FileRenameTaskSpecification::FileRenameTaskSpecification(const QString &from, const QString &to,
                                                         RollbackDataList *rollback,
                                                         QObject *parent, double weight)
    : FastFileOpTaskSpecification(to, rollback, parent, weight), m_From(from) {}

bool FileRenameTaskSpecification::doOp() {
    const QString dir = QFileInfo(m_Path).path();
    if (!QFileInfo::exists(dir)) {
        QDir().mkdir(dir);
    }
    if (!QFile::rename(m_From, m_Path)) {
        emit message(QStringLiteral("Could not rename '%1' to '%2'").arg(m_From, m_Path));
        return false;
    }
    addRollback(RollbackData(FILE_RENAME, m_From, m_Path));
    return true;
}
