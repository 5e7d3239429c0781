#include "testtasks.h"

#include <QCoreApplication>
#include <QTimer>

ManualTask::ManualTask(QObject *parent, double weight, QStringList *journal, QString name)
    : TaskSpecification(parent, weight), m_Journal(journal), m_Name(std::move(name)) {}

void ManualTask::execute() {
    ++m_Executions;
    m_State = Running;
    if (m_Journal != nullptr) {
        m_Journal->append(m_Name);
    }
}

void ManualTask::handleOtherTaskCancelled(TaskSpecification *other) {
    m_OtherCancelNotices.append(other);
    if (m_AbortOnOtherCancel) {
        QTimer::singleShot(0, this, &ManualTask::fail);
    }
}

void ManualTask::getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                                     bool &downloading) {
    done = m_DlDone;
    total = m_DlTotal;
    speed = m_DlSpeed;
    downloading = m_DlActive;
}

TestComposedTask::TestComposedTask(int maxParallel, QObject *parent, double weight)
    : ComposedTaskSpecification(maxParallel, parent, weight) {}

void TestComposedTask::execute() {
    m_State = Running;
    startSubtasks();
}

ManualTask *TestComposedTask::addManual(double weight, QStringList *journal, QString name) {
    auto *task = new ManualTask(this, weight, journal, std::move(name));
    addSubtask(task);
    return task;
}

void eventLoopTurn() {
    QCoreApplication::processEvents();
}
