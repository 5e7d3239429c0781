#include "composedtaskspecification.h"

#include <QtGlobal>

ComposedTaskSpecification::ComposedTaskSpecification(int maxParallel, QObject *parent,
                                                     double weight)
    : TaskSpecification(parent, weight), m_MaxParallel(qMax(1, maxParallel)) {
    connect(this, &ComposedTaskSpecification::startNextTask, this,
            &ComposedTaskSpecification::onStartNextTask, Qt::QueuedConnection);
}

ComposedTaskSpecification::~ComposedTaskSpecification() {
    clearSubtasks();
}

void ComposedTaskSpecification::connectSubtask(TaskSpecification *child) {
    connect(child, &TaskSpecification::finished, this,
            &ComposedTaskSpecification::onSubTaskFinished);
    connect(child, &TaskSpecification::canceled, this,
            &ComposedTaskSpecification::onSubTaskCanceled);
    connect(child, &TaskSpecification::error, this, &TaskSpecification::error);
    // The child's place among the subtasks (they are only ever appended,
    // and cleared all at once), so that a report costs O(1) whatever the
    // number of subtasks: a download list hears one per batch of every file.
    const int index = m_Subtasks.lastIndexOf(child);
    connect(child, &TaskSpecification::updateProgress, this,
            [this, index] { onSubtaskProgress(index); });
    connect(child, &TaskSpecification::message, this, &TaskSpecification::message);
    connect(this, &TaskSpecification::otherTaskCancelled, child,
            &ComposedTaskSpecification::onOtherTaskCancelled);
}

void ComposedTaskSpecification::addSubtask(TaskSpecification *child) {
    m_Subtasks.append(child);
    m_Pending.append(child);
    m_ReportedFrac.append(0.0);
    connectSubtask(child);
    onSubtaskProgress(m_Subtasks.size() - 1);
}

void ComposedTaskSpecification::startSubtasks() {
    m_State = Running;
    const int n = qMin(m_MaxParallel, m_Pending.size());
    if (n == 0) {
        subtasksDone();
        return;
    }
    for (int i = 0; i < n; ++i) {
        emit startNextTask();
    }
}

void ComposedTaskSpecification::onStartNextTask() {
    if (m_Pending.isEmpty() || m_SubtaskCanceled || m_CancelRequested) {
        if (m_Running.isEmpty()) {
            reportDoneOnce();
        }
        return;
    }
    TaskSpecification *next = m_Pending.takeFirst();
    m_Running.append(next);
    next->execute();
}

void ComposedTaskSpecification::onSubtaskProgress(int index) {
    if (index < 0 || index >= m_ReportedFrac.size()) {
        return;
    }
    const double now = m_Subtasks.at(index)->doneFrac();
    m_ProgressSum += now - m_ReportedFrac.at(index);
    m_ReportedFrac[index] = now;
    setProgress(m_ProgressSum);
}

void ComposedTaskSpecification::onSubTaskFinished(TaskSpecification *child) {
    moveToDone(child);
    emit startNextTask();
}

void ComposedTaskSpecification::onSubTaskCanceled(TaskSpecification *child) {
    moveToDone(child);
    if (!m_SubtaskCanceled) {
        m_SubtaskCanceled = true;
        emit otherTaskCancelled(child);
    }
    if (m_Running.isEmpty()) {
        reportDoneOnce();
    }
}

void ComposedTaskSpecification::moveToDone(TaskSpecification *child) {
    m_Running.removeOne(child);
    m_Done.append(child);
}

void ComposedTaskSpecification::reportDoneOnce() {
    if (!m_DoneReported) {
        m_DoneReported = true;
        subtasksDone();
    }
}

TaskState ComposedTaskSpecification::subtasksResult() const {
    bool canceledSeen = false;
    bool allFinished = true;
    for (const TaskSpecification *task : m_Subtasks) {
        const int s = task->state();
        if (s == Failed) {
            return Failed;
        }
        if (s == Canceled) {
            canceledSeen = true;
        }
        if (s != Finished) {
            allFinished = false;
        }
    }
    if (canceledSeen) {
        return Canceled;
    }
    if (allFinished) {
        return Finished;
    }
    if (m_CancelRequested) {
        return Canceled;
    }
    return m_SubtaskCanceled ? Failed : Running;
}

void ComposedTaskSpecification::subtasksDone() {
    switch (subtasksResult()) {
        case Canceled:
            taskCanceled();
            break;
        case Finished:
            taskFinished();
            break;
        default:
            taskFailed();
            break;
    }
}

void ComposedTaskSpecification::cancel() {
    TaskSpecification::cancel();
    if (m_State != Running) {
        return;
    }
    // A copy: a subtask's cancel may end it, and its outcome reaches our
    // slots while we iterate.
    const QList<TaskSpecification *> tasks = m_Subtasks;
    for (TaskSpecification *task : tasks) {
        task->cancel();
    }
}

void ComposedTaskSpecification::reset() {
    const QList<TaskSpecification *> tasks = m_Subtasks;
    for (TaskSpecification *task : tasks) {
        task->reset();
    }
    m_Pending = m_Subtasks;
    m_Running.clear();
    m_Done.clear();
    m_SubtaskCanceled = false;
    m_DoneReported = false;
    TaskSpecification::reset();
}

void ComposedTaskSpecification::getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                                                    bool &downloading) {
    downloading = false;
    for (TaskSpecification *task : qAsConst(m_Subtasks)) {
        quint64 d = 0;
        quint64 t = 0;
        quint64 s = 0;
        bool dl = false;
        task->getDownloadProgress(d, t, s, dl);
        if (dl) {
            downloading = true;
        }
        speed += s;
        if (t != 0) {
            done += d;
            total += t;
        }
    }
}

void ComposedTaskSpecification::handleOtherTaskCancelled(TaskSpecification *other) {
    emit otherTaskCancelled(other);
}

void ComposedTaskSpecification::clearSubtasks() {
    const QList<TaskSpecification *> tasks = m_Subtasks;
    for (TaskSpecification *task : tasks) {
        // Both directions: a subtask waiting for its deletion must not hear
        // a later otherTaskCancelled either.
        disconnect(task, nullptr, this, nullptr);
        disconnect(this, nullptr, task, nullptr);
        task->deleteLater();
    }
    m_Subtasks.clear();
    m_ReportedFrac.clear();
    m_ProgressSum = 0.0;
    m_Pending.clear();
    m_Running.clear();
    m_Done.clear();
    // The flags describe the run of the subtasks just disposed of. Kept, they
    // would make the next run start nothing and never report its end.
    m_SubtaskCanceled = false;
    m_DoneReported = false;
}
