#include "filereplacelisttaskspecification.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include "configuration.h"
#include "dircreatetaskspecification.h"
#include "filereplacetaskspecification.h"
#include "heaptrim.h"

FileReplaceListTaskSpecification::FileReplaceListTaskSpecification(
    const QList<ReplaceItem> *replaceList, Configuration *configuration, QObject *parent,
    double weight)
    : ComposedTaskSpecification(2, parent, weight),
      m_ReplaceList(replaceList),
      m_Configuration(configuration) {}

void FileReplaceListTaskSpecification::execute() {
    emit message(QStringLiteral("Starting file updates"));
    // What the downloads freed goes back first: patching maps large buffers
    // of its own, which would otherwise come on top of it.
    HeapTrim::releaseFreedMemory();
    makeSubtasksAndStart();
}

void FileReplaceListTaskSpecification::makeSubtasksAndStart() {
    const int dirTasks = makeDirTasks();
    makeReplaceTasks(dirTasks > 0);
    m_State = Running;
    startSubtasks();
}

int FileReplaceListTaskSpecification::makeDirTasks() {
    const QDir base(m_Configuration->m_InstallDir);
    QSet<QString> seen;
    QStringList missing;
    for (const ReplaceItem &item : *m_ReplaceList) {
        const QString dir = QFileInfo(base, item.targetPath()).path();
        if (seen.contains(dir)) {
            continue;
        }
        seen.insert(dir);
        if (!QFileInfo::exists(dir)) {
            missing.append(dir);
        }
    }
    // Plain string order puts every directory before those below it.
    missing.sort(Qt::CaseSensitive);
    const int count = missing.size();
    for (const QString &dir : qAsConst(missing)) {
        addSubtask(new DirCreateTaskSpecification(dir, &m_Rollback, this, 0.1 / count));
    }
    return count;
}

void FileReplaceListTaskSpecification::makeReplaceTasks(bool haveDirTasks) {
    if (m_ReplaceList->isEmpty()) {
        return;
    }
    const double share = (haveDirTasks ? 0.9 : 1.0) / m_ReplaceList->size();
    for (const ReplaceItem &item : *m_ReplaceList) {
        addSubtask(
            new FileReplaceTaskSpecification(item, &m_Rollback, m_Configuration, this, share));
    }
}

void FileReplaceListTaskSpecification::subtasksDone() {
    if (subtasksResult() != Finished) {
        emit message(QStringLiteral("rolling back file updates"));
        rollbackAll(&m_Rollback, this);
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceListTaskSpecification::reset() {
    clearSubtasks();
    rollbackAll(&m_Rollback, this);
    resetTaskState();
}
