#pragma once

#include "composedtaskspecification.h"
#include "updatefilelists.h"

class Configuration;
class QNetworkAccessManager;

/// The root of the task tree: runs the whole update pass as a fixed
/// sequence of steps, one at a time, and owns the five lists that the
/// product ini produces. Later steps get pointers to those lists and read
/// them when they execute (the lists are empty until the list step ends).
///
/// Client pass (m_IsClientUpdate == 1): product ini, lists, downloads,
/// pre-install commands, file replacement, deletions, post-install commands.
/// Updater pass: the replacement and deletion steps are replaced by the
/// updater's self-install step.
class MainTaskSpecification : public ComposedTaskSpecification {
    Q_OBJECT

public:
    MainTaskSpecification(QNetworkAccessManager *manager, Configuration *configuration,
                          QObject *parent, double weight);

    /// The lists built by the list step (empty before it has finished).
    const UpdateFileLists &lists() const { return m_Lists; }

public slots:
    void execute() override;
    /// Disposes of the steps and empties the lists, so that the next
    /// execute() builds everything afresh.
    void reset() override;

private:
    void makeSubtasksAndStart();

    QNetworkAccessManager *m_Manager;
    Configuration *m_Configuration;
    UpdateFileLists m_Lists;
};
