#pragma once

#include <QList>

#include "composedtaskspecification.h"

class Configuration;
struct DeleteItem;

/// The pipeline step that removes the files and directories the product ini
/// lists for deletion, one after another in list order, each resolved
/// against the installation directory. A deletion that fails never fails
/// this task.
class FileDeleteListTaskSpecification : public ComposedTaskSpecification {
    Q_OBJECT

public:
    /// Neither the list nor the configuration is owned; both are read when
    /// the task executes.
    FileDeleteListTaskSpecification(const QList<DeleteItem> *deleteList,
                                    Configuration *configuration, QObject *parent, double weight);

public slots:
    void execute() override;
    /// Drops the subtasks so that the next execute() builds them afresh.
    void reset() override;

private:
    void makeSubtasksAndStart();

    const QList<DeleteItem> *m_DeleteList;
    Configuration *m_Configuration;
};
