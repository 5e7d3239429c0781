#include "taskspecification.h"

TaskSpecification::TaskSpecification(QObject *parent, double weight)
    : QObject(parent), m_Weight(weight) {}

void TaskSpecification::reset() {
    m_CancelRequested = false;
    m_State = Idle;
    m_DoneFrac = 0.0;
    emit updateProgress(0.0);
}

void TaskSpecification::getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                                            bool &downloading) {
    done = 0;
    total = 0;
    speed = 0;
    downloading = false;
}

void TaskSpecification::cancel() {
    m_CancelRequested = true;
}

void TaskSpecification::handleOtherTaskCancelled(TaskSpecification * /*other*/) {}

void TaskSpecification::onOtherTaskCancelled(TaskSpecification *other) {
    if (other != this && m_State == Running) {
        handleOtherTaskCancelled(other);
    }
}

void TaskSpecification::setProgress(double fraction) {
    m_DoneFrac = fraction * m_Weight;
    emit updateProgress(m_DoneFrac);
}

void TaskSpecification::taskFinished() {
    m_State = Finished;
    m_DoneFrac = m_Weight;
    emit updateProgress(m_Weight);
    emit finished(this);
}

void TaskSpecification::taskFailed() {
    m_State = Failed;
    emit canceled(this);
}

void TaskSpecification::taskCanceled() {
    m_State = Canceled;
    emit canceled(this);
}
