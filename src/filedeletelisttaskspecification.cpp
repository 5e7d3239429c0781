#include "filedeletelisttaskspecification.h"

#include <QDir>
#include <QFileInfo>

#include "configuration.h"
#include "filedeletetaskspecification.h"
#include "updatefilelists.h"

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
    TaskSpecification::reset();  // NOLINT(bugprone-parent-virtual-call): subtasks are rebuilt
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
