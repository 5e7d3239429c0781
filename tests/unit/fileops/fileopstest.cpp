#include "fileopstest.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QTimer>

#include "taskspecification.h"

LogCapture *LogCapture::s_Active = nullptr;

TestRoot::TestRoot() {
    writeFile(path(QStringLiteral("keep")), QByteArray("keep"));
}

QString TestRoot::path(const QString &rel) const {
    return m_Dir.path() + QLatin1Char('/') + rel;
}

bool TestRoot::create(const QStringList &entries) const {
    for (const QString &rel : entries) {
        const bool made =
            rel.endsWith(QLatin1Char('/'))
                ? QDir().mkpath(path(rel))
                : QDir().mkpath(QFileInfo(path(rel)).path()) && writeFile(path(rel), rel.toUtf8());
        if (!made) {
            return false;
        }
    }
    return true;
}

bool TestRoot::exists(const QString &rel) const {
    return QFileInfo::exists(path(rel));
}

QString TestRoot::expand(const QString &text) const {
    return QString(text).replace(QLatin1String("%R"), m_Dir.path());
}

QStringList TestRoot::expand(const QStringList &texts) const {
    QStringList out;
    for (const QString &text : texts) {
        out << expand(text);
    }
    return out;
}

bool writeFile(const QString &path, const QByteArray &content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    QByteArray content = file.readAll();
    if (content.isNull()) {
        content = QByteArray("");  // empty but not null: the file exists
    }
    return content;
}

LogCapture::LogCapture() : m_Previous(qInstallMessageHandler(&LogCapture::handler)) {
    s_Active = this;
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(m_Previous);
    s_Active = nullptr;
}

QStringList LogCapture::lines() const {
    const QMutexLocker lock(&m_Mutex);
    return m_Lines;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    LogCapture *self = s_Active;
    if (self == nullptr) {
        return;
    }
    {
        const QMutexLocker lock(&self->m_Mutex);
        self->m_Lines << text;
    }
    if (self->m_Previous != nullptr) {
        self->m_Previous(type, context, text);
    }
}

int runTask(TaskSpecification *task, QStringList *messages) {
    QSignalSpy lines(task, &TaskSpecification::message);
    QSignalSpy finished(task, &TaskSpecification::finished);
    QSignalSpy canceled(task, &TaskSpecification::canceled);
    QEventLoop loop;
    QObject::connect(task, &TaskSpecification::finished, &loop, &QEventLoop::quit);
    QObject::connect(task, &TaskSpecification::canceled, &loop, &QEventLoop::quit);
    task->execute();
    if (finished.isEmpty() && canceled.isEmpty()) {
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (finished.isEmpty() && canceled.isEmpty()) {
        qWarning("task did not end");
        return -1;
    }
    // Exactly one outcome signal per run.
    if (finished.size() + canceled.size() != 1) {
        qWarning("task ended more than once");
        return -1;
    }
    messages->clear();
    for (const QList<QVariant> &args : qAsConst(lines)) {
        messages->append(args.at(0).toString());
    }
    return task->state();
}

QStringList describe(const RollbackDataList &list, const TestRoot &root) {
    QStringList out;
    const QString base = root.path(QString());
    for (const RollbackData &entry : list) {
        QString text = QString::number(entry.m_Op) + QLatin1Char(':');
        if (entry.m_Op == FILE_RENAME) {
            text += entry.m_OldPath + QLatin1Char('>');
        }
        text += entry.m_Path;
        out << text.replace(base, QStringLiteral("%R/"));
    }
    return out;
}
