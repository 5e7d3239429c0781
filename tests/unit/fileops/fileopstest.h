#pragma once

// Helpers shared by the file-operation tests: files in a temporary root,
// a capture of Qt's debug lines from any thread, and running a task to its
// end on the real event loop.

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "rollback.h"

class TaskSpecification;

/// A temporary directory that holds a "keep" file, so that climbing
/// directory removals always stop at it. Paths are given relative to it.
class TestRoot {
public:
    TestRoot();

    /// The absolute path of `rel`; a trailing "/" is kept.
    QString path(const QString &rel) const;
    /// Creates `entries` under the root: a name ending in "/" is a directory,
    /// any other a file holding its own name, with the parents made as needed.
    /// False when one could not be made.
    bool create(const QStringList &entries) const;
    bool exists(const QString &rel) const;
    /// Replaces every "%R" of `text` by the root's path.
    QString expand(const QString &text) const;
    QStringList expand(const QStringList &texts) const;

private:
    QTemporaryDir m_Dir;
};

bool writeFile(const QString &path, const QByteArray &content);
/// The file's content; a null array when it cannot be read.
QByteArray readFile(const QString &path);

/// Collects the text of every Qt message while it lives (from any thread)
/// and passes each on to the handler that was installed before.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    bool contains(const QString &line) const { return lines().contains(line); }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);

    mutable QMutex m_Mutex;
    QStringList m_Lines;
    QtMessageHandler m_Previous;
    static LogCapture *s_Active;
};

/// Executes `task` and waits, on the event loop and within a generous
/// bound, until it ends; returns its state and fills `messages`.
int runTask(TaskSpecification *task, QStringList *messages);

/// The journal as "op:path" (or "op:oldPath>path" for renames) with the
/// root's path written as "%R", for comparing against table rows.
QStringList describe(const RollbackDataList &list, const TestRoot &root);
