#include "rollback.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

RollbackData::RollbackData(int op, const QString &oldPath, const QString &path)
    : m_Path(path), m_OldPath(oldPath), m_Op(op) {
    Q_ASSERT_X(op == FILE_RENAME, "RollbackData", "op==FILE_RENAME");
}

RollbackData::RollbackData(int op, const QString &path) : m_Path(path), m_Op(op) {
    Q_ASSERT_X(op != FILE_RENAME, "RollbackData", "op!=FILE_RENAME");
}

RollbackData RollbackData::fileReplace(const QString &keptPath, const QString &path) {
    RollbackData entry(FILE_CREATE, path);
    entry.m_Op = FILE_REPLACE;
    entry.m_OldPath = keptPath;
    return entry;
}

bool RollbackData::rollback(QObject *receiver) const {
    switch (m_Op) {
        case DIR_CREATE:
            return undoDirCreate(receiver);
        case FILE_CREATE:
            return undoFileCreate(receiver);
        case FILE_RENAME:
            return undoFileRename(receiver);
        case FILE_REPLACE:
            return undoFileReplace(receiver);
        default:
            qFatal("Should not reach here");
    }
    return false;
}

bool RollbackData::undoDirCreate(QObject *receiver) const {
    // Cleaned first: for "a/b/" the parent and the last component would
    // otherwise name a/b and b, i.e. the non-existent a/b/b.
    const QString path = QDir::cleanPath(m_Path);
    if (QFileInfo(path).dir().rmdir(QDir(path).dirName())) {
        return true;
    }
    message(receiver, QStringLiteral("warning: rollback create dir %1 failed").arg(m_Path));
    return false;
}

bool RollbackData::undoFileCreate(QObject *receiver) const {
    if (QFile::remove(m_Path)) {
        return true;
    }
    message(receiver, QStringLiteral("warning: rollback create file %1 failed").arg(m_Path));
    return false;
}

bool RollbackData::undoFileRename(QObject *receiver) const {
    if (QFile::rename(m_Path, m_OldPath)) {
        return true;
    }
    message(receiver,
            QStringLiteral("warning: rollback rename %1 to %2 failed").arg(m_OldPath, m_Path));
    return false;
}

bool RollbackData::undoFileReplace(QObject *receiver) const {
    // Whatever is at the path is not the former file (a newer write that
    // was not recorded, or a partial one); it goes only when the kept file
    // is there to take its place.
    const bool kept = QFileInfo::exists(m_OldPath);
    if (kept && (QFileInfo(m_Path).isSymLink() || QFileInfo::exists(m_Path))) {
        QFile::remove(m_Path);
    }
    if (kept && QFile::rename(m_OldPath, m_Path)) {
        return true;
    }
    message(receiver,
            QStringLiteral("warning: rollback restore %1 from %2 failed").arg(m_Path, m_OldPath));
    return false;
}

void RollbackData::message(QObject *receiver, const QString &text) {
    if (receiver == nullptr) {
        return;
    }
    if (!QMetaObject::invokeMethod(receiver, "message", Qt::AutoConnection, Q_ARG(QString, text))) {
        qDebug() << "Warning: message signal was not found in RollbackData::message";
    }
}

bool rollbackAll(RollbackDataList *list, QObject *receiver) {
    bool ok = true;
    if (list == nullptr) {
        return ok;
    }
    while (!list->isEmpty()) {
        // Evaluated first so that a failure never skips the remaining entries.
        const bool undone = list->takeLast().rollback(receiver);
        ok = ok && undone;
    }
    return ok;
}
