#include "filedeletetaskspecification.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "configuration.h"
#include "updatefilelists.h"

FileDeleteTaskSpecification::FileDeleteTaskSpecification(bool mustSucceed, const QString &path,
                                                         bool recursive, QObject *parent,
                                                         double weight)
    : FastFileOpTaskSpecification(path, nullptr, parent, weight),
      m_MustSucceed(mustSucceed),
      m_Recursive(recursive) {}

bool FileDeleteTaskSpecification::doOp() {
    const bool removed = QFileInfo(m_Path).isDir() ? removeDirectory() : removeFile();
    if (!removed && m_MustSucceed) {
        emit message(QStringLiteral("Could not delete '%1'").arg(m_Path));
        return false;
    }
    return true;
}

bool FileDeleteTaskSpecification::removeDirectory() {
    if (m_Recursive) {
        const bool removed = QDir(m_Path).removeRecursively();
        qDebug() << "Recursively deleted directory" << m_Path << removed;
        if (removed) {
            emit message(QStringLiteral("Recursively deleted directory '%1'").arg(m_Path));
        }
        return removed;
    }
    // rmpath removes the directory, then climbs while the parents become
    // empty; it reports success when the directory itself went.
    const bool removed = QDir().rmpath(m_Path);
    qDebug() << "Deleted directory" << m_Path << removed;
    if (removed) {
        emit message(QStringLiteral("Deleted directory '%1'").arg(m_Path));
    }
    return removed;
}

bool FileDeleteTaskSpecification::removeFile() {
    const bool removed = QFile::remove(m_Path);
    qDebug() << "Deleted file" << m_Path << removed;
    if (removed) {
        emit message(QStringLiteral("Deleted file '%1'").arg(m_Path));
    }
    return removed;
}

FileDeleteListTaskSpecification::FileDeleteListTaskSpecification(
    const QList<DeleteItem> *deleteList, Configuration *configuration, QObject *parent,
    double weight)
    : ComposedTaskSpecification(1, parent, weight),
      m_DeleteList(deleteList),
      m_Configuration(configuration) {}

void FileDeleteListTaskSpecification::execute() {
    emit message(QStringLiteral("Starting deleting files"));
    makeSubtasksAndStart();
}

void FileDeleteListTaskSpecification::reset() {
    clearSubtasks();
    resetTaskState();
}

void FileDeleteListTaskSpecification::makeSubtasksAndStart() {
    const int n = m_DeleteList->size();
    const QDir base(m_Configuration->m_InstallDir);
    for (const DeleteItem &item : *m_DeleteList) {
        addSubtask(new FileDeleteTaskSpecification(false, QFileInfo(base, item.name).filePath(),
                                                   item.recursive, this, 1.0 / n));
    }
    m_State = Running;
    startSubtasks();
}
