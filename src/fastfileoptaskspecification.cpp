#include "fastfileoptaskspecification.h"

FastFileOpTaskSpecification::FastFileOpTaskSpecification(const QString &path,
                                                         RollbackDataList *rollback,
                                                         QObject *parent, double weight)
    : TaskSpecification(parent, weight), m_Rollback(rollback), m_Path(path) {}

void FastFileOpTaskSpecification::execute() {
    m_State = Running;
    if (doOp()) {
        taskFinished();
    } else {
        taskFailed();
    }
}

void FastFileOpTaskSpecification::addRollback(const RollbackData &entry) {
    if (m_Rollback != nullptr) {
        m_Rollback->append(entry);
    }
}
