#include "updatelog.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <atomic>
#include <cstdlib>

namespace {

/// Batches in progress, on any thread; lines are flushed one by one only at 0.
std::atomic<int> g_Batches{0};
/// The instance once instance() has created it.
std::atomic<UpdateLog *> g_Log{nullptr};

const char *separatorFor(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return "\t|\tDebug\t|\t";
        case QtInfoMsg:
            return "\t|\tInfo\t|\t";
        case QtWarningMsg:
            return "\t|\tWarning\t|\t";
        case QtCriticalMsg:
            return "\t|\tCritical\t|\t";
        case QtFatalMsg:
            return "\t|\tFatal\t|\t";
    }
    return "\t|\tDebug\t|\t";
}

}  // namespace

UpdateLog &UpdateLog::instance() {
    static UpdateLog *log = [] {
        auto *created = new UpdateLog();  // never destroyed: workers may log at exit
        g_Log.store(created);
        return created;
    }();
    return *log;
}

QString UpdateLog::markerPath() {
    return QDir::tempPath() + QStringLiteral("/vxm_update_log");
}

QString UpdateLog::logDirectory() {
    return QDir::toNativeSeparators(QDir::tempPath() + QDir::separator() +
                                    QStringLiteral("voxmere_update_log") + QDir::separator());
}

QString UpdateLog::fileNameFor(const QDateTime &startTime) {
    QString stamp = startTime.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss"));
    stamp.replace(QLatin1Char(':'), QLatin1Char('_'));
    stamp.replace(QStringLiteral("T"), QStringLiteral("__"));
    return QStringLiteral("update__") + stamp + QStringLiteral(".log");
}

QByteArray UpdateLog::formatLine(QtMsgType type, const QDateTime &time, const QString &message) {
    return formatLine(type, time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz")).toLocal8Bit(),
                      message);
}

QByteArray UpdateLog::formatLine(QtMsgType type, const QByteArray &stamp, const QString &message) {
    QByteArray line = stamp;
    line += separatorFor(type);
    line += message.toLocal8Bit();
    line += '\n';
    return line;
}

QByteArray UpdateLog::StampCache::at(qint64 msecsSinceEpoch) {
    constexpr qint64 kMsecsPerSecond = 1000;
    const qint64 second = msecsSinceEpoch / kMsecsPerSecond;
    if (second != m_Second) {
        m_UpToSeconds = QDateTime::fromMSecsSinceEpoch(second * kMsecsPerSecond)
                            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:"))
                            .toLocal8Bit();
        m_Second = second;
    }
    const int millis = static_cast<int>(msecsSinceEpoch % kMsecsPerSecond);
    return m_UpToSeconds + QByteArray::number(millis).rightJustified(3, '0');
}

UpdateLog::UpdateLog() {
    m_Enabled = QFileInfo::exists(markerPath());
    if (!m_Enabled) {
        return;
    }
    const QString dir = logDirectory();
    QDir().mkdir(dir);  // one level; a failure only loses the lines
    m_File = new QFile(dir + fileNameFor(QDateTime::currentDateTime()));
    if (m_File->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        m_Stream.setDevice(m_File);
    }
}

QString UpdateLog::filePath() const {
    return m_File != nullptr && m_File->isOpen() ? m_File->fileName() : QString();
}

void UpdateLog::write(QtMsgType type, const QString &message) {
    QMutexLocker lock(&m_Mutex);
    if (m_Stream.device() == nullptr) {
        return;
    }
    // Write raw bytes: the text stream's own codec must not re-encode the
    // already local-8-bit message.
    const QByteArray line =
        formatLine(type, m_Stamps.at(QDateTime::currentMSecsSinceEpoch()), message);
    m_Stream.flush();
    m_Stream.device()->write(line);
    if (m_File != nullptr && (g_Batches.load() == 0 || type == QtFatalMsg)) {
        m_File->flush();
    }
}

UpdateLog::Batch::Batch() {
    ++g_Batches;
}

UpdateLog::Batch::~Batch() {
    if (--g_Batches == 0) {
        flushNow();
    }
}

void UpdateLog::flushNow() {
    // The log itself is not created here: a process that never logged
    // (a test, a benchmark) must not open a log file because of a batch.
    UpdateLog *log = g_Log.load();
    if (log != nullptr) {
        log->flushFile();
    }
}

void UpdateLog::flushFile() {
    QMutexLocker lock(&m_Mutex);
    if (m_File != nullptr && m_File->isOpen()) {
        m_File->flush();
    }
}

void UpdateLog::close() {
    QMutexLocker lock(&m_Mutex);
    if (m_File == nullptr || !m_File->isOpen()) {
        return;
    }
    m_Stream.flush();
    m_Stream.setDevice(nullptr);
    m_File->close();
}

void UpdateLog::messageHandler(QtMsgType type, const QMessageLogContext &context,
                               const QString &message) {
    Q_UNUSED(context)
    UpdateLog &log = instance();
    if (log.m_Enabled) {
        log.write(type, message);
    }
    if (type == QtFatalMsg) {
        std::abort();
    }
}
