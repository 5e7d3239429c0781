#pragma once

#include <QObject>
#include <QString>

class Configuration;
class QNetworkAccessManager;
class QTimer;
class TaskSpecification;

/// Session state of the engine.
enum UpdateState {
    PRE_INIT = 0,   ///< no session
    POST_INIT = 1,  ///< session prepared and recorded, main task not started
    RUNNING = 2,
    FINISHED = 3,
    CANCELED = 4,  ///< the main task ended canceled or failed
};

/// Owns one update session: continues an interrupted session of the same
/// version or cleans up an older one, records the session in update.ini,
/// runs the main task, relays its signals to the window, polls its downloads
/// once per second (the downloads' stall clock) and cleans up after success.
/// Also provides the start-up clean-ups of files that earlier updater
/// generations left behind.
///
/// A directory recorded in update.ini is only ever deleted when it is a real
/// directory (not a link) whose last path component starts with
/// "voxmere_temp_"; any other record is forgotten without deleting anything,
/// since a hand-edited file could otherwise name the user's data.
class UpdateEngine : public QObject {
    Q_OBJECT

public:
    /// Reads the network settings and configures the session's network
    /// access manager. An invalid proxy specification is reported through
    /// fatalError once the event loop runs (nobody is connected yet while
    /// the window constructs the engine); such an engine never starts a
    /// session.
    UpdateEngine(Configuration *configuration, QObject *parent);

    /// Precondition PRE_INIT. Prepares and records the session; success
    /// leaves POST_INIT. A failure has been reported through fatalError,
    /// error or the configuration's fatalError.
    bool initialize();
    /// Precondition POST_INIT. Creates and starts the main task; always true.
    bool startUpdate();
    /// True in POST_INIT and RUNNING.
    bool isSessionActive() const;
    /// Precondition CANCELED; back to PRE_INIT, dropping the ended main task.
    void resetAfterCancel();
    UpdateState state() const { return m_State; }

    /// Removes "_old_<name>" leftovers of earlier self-updates from dir;
    /// failures are ignored.
    static void removeOldFiles(const QString &dir);
    /// Removes the Qt 4 frameworks of old client generations (dir is the
    /// updater base directory) and the framework links of the sibling tools;
    /// real directories in the tools are left alone. Failures are ignored.
    static void removeQt4Files(const QString &dir);
    /// Deletes everything inside path (hidden files included, links deleted
    /// as links, never followed); path itself stays.
    static void removeDirRecursively(const QString &path);
    /// True when path may be deleted as a session's temporary directory: a
    /// real directory whose last path component starts with "voxmere_temp_".
    static bool isSessionTempDir(const QString &path);

signals:
    void fatalError(QString errorMessage);
    void error(QString errorMessage);
    void updateProgress(double doneFrac);
    void downloadProgress(qulonglong downloadDone, qulonglong downloadTotal, qulonglong speed,
                          bool downloading);
    void message(QString message);
    void updateFinished();
    void updateCanceled();

public slots:
    /// Asks the main task to cancel; only in RUNNING. The end arrives later
    /// through updateCanceled.
    void cancelUpdate();

protected:
    /// Creates the session's main task with this engine as parent and weight
    /// 1.0. The default is the whole update pipeline.
    virtual TaskSpecification *createMainTask(QNetworkAccessManager *manager,
                                              Configuration *configuration);

private slots:
    void onTimer();
    void onTaskFinished();
    void onTaskCanceled();

private:
    void configureProxy();
    void takeRecordedSession(QString *tempDir, QString *installDir);
    /// Deletes a recorded session's directory (guarded, see the class
    /// comment) and update.ini.
    void discardRecordedSession(const QString &tempDir);
    void removeSessionDir(const QString &tempDir);
    void cleanup();
    void dropMainTask();

    UpdateState m_State = PRE_INIT;
    Configuration *m_Config;
    TaskSpecification *m_MainTask = nullptr;
    QTimer *m_Timer;
    QNetworkAccessManager *m_Network;
    bool m_NetworkUnusable = false;
};
