#pragma once

#include <QList>
#include <QObject>
#include <QString>

/// Kinds of undoable file-system change, as stored in RollbackData::m_Op.
enum RollbackOp {
    FILE_RENAME = 0,  ///< m_OldPath was renamed to m_Path; undone by renaming it back
    FILE_CREATE = 1,  ///< a file was written at m_Path; undone by removing it
    DIR_CREATE = 2,   ///< the directory m_Path was created; undone by removing it when empty
    /// the installed file m_Path was moved aside to m_OldPath before being
    /// overwritten; undone by moving it back over whatever is at m_Path
    FILE_REPLACE = 3,
};

/// One entry of the installation journal: a change that can be undone.
///
/// The journal undoes creations and renames; the former content of an
/// overwritten file comes back only when its writer moved it aside first and
/// recorded that as FILE_REPLACE. Entries are plain values, appended and
/// undone on the main thread only.
class RollbackData {
public:
    /// A FILE_RENAME entry from `oldPath` to `path`; any other op is a
    /// programming error.
    RollbackData(int op, const QString &oldPath, const QString &path);
    /// A FILE_CREATE or DIR_CREATE entry for `path`; FILE_RENAME is a
    /// programming error.
    RollbackData(int op, const QString &path);
    /// A FILE_REPLACE entry: the file at `path` was moved to `keptPath`
    /// (normally in the session's temporary directory) so that it can be
    /// put back. Record it before the entry of the file written at `path`.
    static RollbackData fileReplace(const QString &keptPath, const QString &path);

    /// Undoes this one change. On failure one warning line goes to
    /// `receiver` through message() and the result is false.
    bool rollback(QObject *receiver) const;

    /// Delivers `text` to the receiver's method named "message" taking one
    /// QString (every task has such a signal), by name with automatic
    /// connection type. A null receiver swallows the text; a receiver
    /// without such a method gets nothing and a debug line is written.
    static void message(QObject *receiver, const QString &text);

    QString m_Path;
    QString m_OldPath;
    int m_Op;

private:
    bool undoDirCreate(QObject *receiver) const;
    bool undoFileCreate(QObject *receiver) const;
    bool undoFileRename(QObject *receiver) const;
    bool undoFileReplace(QObject *receiver) const;
};

/// The journal: entries in the order the changes were made, oldest first.
/// Recording tasks get a pointer to the list (null = record nothing) and
/// never own it.
using RollbackDataList = QList<RollbackData>;

/// Undoes every entry of `list`, newest first, attempting each one even
/// after a failure, and leaves the list empty. Since directories are
/// recorded before what is written into them, files go before their
/// directories and nested directories deepest first. Warnings go to
/// `receiver`; true only when every undo succeeded. A null list is a no-op
/// that succeeds.
bool rollbackAll(RollbackDataList *list, QObject *receiver);
