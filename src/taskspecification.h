#pragma once

#include <QObject>
#include <QString>

/// State of a task. Stored as an int in TaskSpecification::state(); other
/// components compare against these values.
enum TaskState {
    Idle = 0,      ///< constructed or reset, not started
    Running = 1,   ///< started, no outcome yet
    Finished = 2,  ///< ended successfully
    Failed = 3,    ///< ended because of an error
    Canceled = 4,  ///< ended because cancellation was requested
};

/// Abstract base of every update step.
///
/// A task lives on the main thread, is started once through execute(),
/// reports weighted progress (fraction done × weight) through updateProgress
/// and text through message, and ends through exactly one of taskFinished(),
/// taskFailed() or taskCanceled(). Failed and Canceled both announce the end
/// through canceled(); listeners tell them apart by state().
class TaskSpecification : public QObject {
    Q_OBJECT

public:
    TaskSpecification(QObject *parent, double weight);

    int state() const { return m_State; }
    double weight() const { return m_Weight; }
    /// The weighted progress last reported (fraction done × weight).
    double doneFrac() const { return m_DoneFrac; }
    bool isCancelRequested() const { return m_CancelRequested; }

signals:
    void finished(TaskSpecification *task);
    void canceled(TaskSpecification *task);
    void error(QString errorMessage);
    void updateProgress(double doneFrac);
    void message(QString message);
    /// Sent by composed tasks to their subtasks when one of them ended
    /// through canceled().
    void otherTaskCancelled(TaskSpecification *other);

public slots:
    /// Starts the work; must eventually end in one outcome operation.
    virtual void execute() = 0;
    /// Back to Idle with no progress and no cancel request; emits
    /// updateProgress(0).
    virtual void reset();
    /// Adds nothing: sets all four outputs to zero / false.
    virtual void getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                                     bool &downloading);
    /// Only records the request; subclasses decide when to honour it.
    virtual void cancel();
    /// Called when a sibling ended through canceled() while this task runs.
    virtual void handleOtherTaskCancelled(TaskSpecification *other);

protected slots:
    /// Forwards to handleOtherTaskCancelled() unless `other` is this task or
    /// this task is not Running.
    void onOtherTaskCancelled(TaskSpecification *other);

protected:
    /// doneFrac = fraction × weight; emits updateProgress(doneFrac).
    void setProgress(double fraction);
    /// Finished with doneFrac = weight; emits updateProgress, then finished.
    void taskFinished();
    /// Failed; emits canceled. Progress is left as it is.
    void taskFailed();
    /// Canceled; emits canceled. Progress is left as it is.
    void taskCanceled();

    bool m_CancelRequested = false;
    const double m_Weight;
    double m_DoneFrac = 0.0;
    int m_State = Idle;
};
