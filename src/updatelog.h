#pragma once

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QTextStream>
#include <QtGlobal>

/// The updater's log file. Every Qt message (debug, info, warning, critical,
/// fatal) becomes one line of the file, but only when the marker
/// "vxm_update_log" exists in the temporary location; otherwise messages go
/// nowhere, not even to the console.
///
/// One process-wide instance, created on first use and never destroyed.
/// Lines from any thread are written and flushed under one lock, so they
/// never interleave.
class UpdateLog {
public:
    /// While one exists (on any thread), lines are written to the file in
    /// blocks instead of one flush per line; the last of them flushes when
    /// it ends. The text and order of the lines are the same either way;
    /// only a process killed meanwhile loses the lines not yet flushed, so
    /// it is meant for steps that write nothing to the installation. A
    /// fatal message is flushed at once regardless, and a line that marks a
    /// step's progress for someone following the file is followed by
    /// flushNow().
    class Batch {
    public:
        Batch();
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;
    };

    /// Writes out every line logged so far, also inside a batch; does
    /// nothing when the log was never created.
    static void flushNow();

    /// The timestamp of a line, "yyyy-MM-dd hh:mm:ss:zzz" in local time, in
    /// the local 8-bit encoding. Converting to local time consults the time
    /// zone (a stat of the zone file with glibc, several per line), so the
    /// text up to the seconds is kept for the second it was made for; within
    /// one second the zone's offset cannot change, only the milliseconds do.
    /// Not thread-safe: the log uses its instance under its lock.
    class StampCache {
    public:
        /// The stamp of the instant msecsSinceEpoch (not before 1970).
        QByteArray at(qint64 msecsSinceEpoch);

    private:
        qint64 m_Second = -1;
        QByteArray m_UpToSeconds;
    };

    /// The process-wide log; decides on first call whether logging is on and,
    /// if so, creates the log directory and opens a new file.
    static UpdateLog &instance();

    /// The handler installed with qInstallMessageHandler. A fatal message
    /// ends the process after its line has been flushed.
    static void messageHandler(QtMsgType type, const QMessageLogContext &context,
                               const QString &message);

    /// Flushes and closes the file (shutdown); later messages are dropped.
    void close();

    bool isEnabled() const { return m_Enabled; }
    /// Path of the open log file; empty when logging is off or the file
    /// could not be created.
    QString filePath() const;

    /// "update__<date>__<time>.log" for the given local start time.
    static QString fileNameFor(const QDateTime &startTime);
    /// The directory that holds the log files, in native separators, ending
    /// with a separator.
    static QString logDirectory();
    /// The marker whose existence enables logging.
    static QString markerPath();
    /// One line: timestamp, the level's separator, the text in the local
    /// 8-bit encoding and "\n".
    static QByteArray formatLine(QtMsgType type, const QDateTime &time, const QString &message);
    /// The same line from a stamp already formatted.
    static QByteArray formatLine(QtMsgType type, const QByteArray &stamp, const QString &message);

    UpdateLog(const UpdateLog &) = delete;
    UpdateLog &operator=(const UpdateLog &) = delete;

private:
    UpdateLog();
    void write(QtMsgType type, const QString &message);
    /// Writes out what the file buffers (the end of a batch).
    void flushFile();

    QFile *m_File = nullptr;
    QTextStream m_Stream;
    QMutex m_Mutex;
    bool m_Enabled = false;
    StampCache m_Stamps;
};
