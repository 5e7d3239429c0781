#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QtGlobal>

#include "taskspecification.h"
#include "updateengine.h"

class Configuration;

/// A main task whose outcome the test decides: execute() only marks it
/// running; finish(), fail() and progress() drive it. A cancel request ends
/// it through the event loop, as a real task tree does.
class ScriptedTask : public TaskSpecification {
    Q_OBJECT

public:
    explicit ScriptedTask(QObject *parent) : TaskSpecification(parent, 1.0) {}

    void execute() override;
    void cancel() override;
    void getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                             bool &downloading) override;

    void progress(double fraction) { setProgress(fraction); }
    void finish() { taskFinished(); }
    void fail(const QString &errorText);

    quint64 m_Done = 0;
    quint64 m_Total = 0;
    quint64 m_Speed = 0;
    bool m_Downloading = false;
};

/// An engine whose main task is a ScriptedTask; remembers every task made.
class TestEngine : public UpdateEngine {
    Q_OBJECT

public:
    TestEngine(Configuration *configuration, QObject *parent)
        : UpdateEngine(configuration, parent) {}

    ScriptedTask *task() const { return m_Tasks.isEmpty() ? nullptr : m_Tasks.last().data(); }
    int tasksMade() const { return m_Tasks.size(); }

protected:
    TaskSpecification *createMainTask(QNetworkAccessManager *manager,
                                      Configuration *configuration) override;

private:
    QList<QPointer<ScriptedTask>> m_Tasks;
};

/// Answers message boxes as a user would: polls for the active modal
/// widget, records its title and text, and presses the next answer
/// (QMessageBox::Ok when no answer is queued).
class ModalAnswerer : public QObject {
    Q_OBJECT

public:
    explicit ModalAnswerer(QList<int> answers = {});

    /// "title: text" of every box answered, in order.
    QStringList m_Seen;

private:
    void poll();

    QList<int> m_Answers;
    QTimer m_Timer;
};

/// A client bundle under QDir::tempPath(); the updater base directory
/// (Contents/SharedSupport/) is pointed at it for the lifetime of the object.
class TestBundle {
public:
    TestBundle();
    ~TestBundle();
    TestBundle(const TestBundle &) = delete;
    TestBundle &operator=(const TestBundle &) = delete;

    QString m_Contents;  ///< ends with "/"
    QString m_Base;      ///< Contents/SharedSupport/
    QString iniPath() const { return m_Base + QStringLiteral("update.ini"); }
};

/// The whole content of a file, empty when it cannot be read.
QByteArray readFile(const QString &path);
/// Creates (or replaces) a file with its missing parent directories; false
/// when it cannot be written.
bool writeFile(const QString &path, const QByteArray &content);

/// Empties the test's private temporary directory (never the directory
/// itself: QDir::tempPath() is empty once it is gone). Refuses to touch
/// anything when not running under the isolated test runner.
bool clearTestTempDir();

/// Runs the application's event loop until something calls exit(); a
/// watchdog ends it with -99 after `limitMs` so a fault cannot hang the test.
int runEventLoop(int limitMs = 20000);
