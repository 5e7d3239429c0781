#pragma once

#include <QString>

#include "composedtaskspecification.h"
#include "rollback.h"
#include "updatefilelists.h"

class Configuration;
class SlowFileOpSpecification;

/// Installs one entry of the replace list: turns the download in the
/// temporary directory into the file at its place in the installation, by a
/// plain copy (entry without target name), an unpack (LZMA2 container when
/// the download's name ends in "._lzma2_", gzip otherwise) or an ensemble
/// patch applied to a copy of the installed file ("_old" in the temporary
/// directory). Every route ends with a SHA-512 check of the installed file
/// that fails the task on a mismatch.
///
/// An installed file that the write would replace is first moved into the
/// session's temporary directory and journaled as FILE_REPLACE, so undoing
/// the journal puts the former file back instead of leaving nothing there.
///
/// The subtasks record into a local journal. On failure the task undoes it
/// itself; on success it hands the entries to the list's journal, in order,
/// and gives the installed file mode 0755 when it is an executable or a
/// library (makeSingleFileExecutable).
class FileReplaceTaskSpecification : public ComposedTaskSpecification {
    Q_OBJECT

public:
    /// `rollback` receives this file's entries on success; neither it nor
    /// `configuration` is owned.
    FileReplaceTaskSpecification(const ReplaceItem &item, RollbackDataList *rollback,
                                 Configuration *configuration, QObject *parent, double weight);

    const ReplaceItem &item() const { return m_Item; }
    /// The entries recorded by the subtasks that have not been handed over
    /// or undone yet.
    const RollbackDataList &localRollback() const { return m_LocalRollback; }

    /// The executable check: a file whose name is one of the client's
    /// executables or libraries, or whose complete suffix is "dylib", gets
    /// mode 0755 (executable for everyone, writable by the owner only). The
    /// result is not tested; other files are left alone.
    static void makeSingleFileExecutable(const QString &path);
    /// Gives `path` mode 0755.
    static void setExecutableMode(const QString &path);

    /// The SHA-512 that the installed result of `item` must have: the final
    /// hash of a transformed entry, or, for a download installed unchanged,
    /// the line's download hash read from the verified product ini of the
    /// configured pass. Empty when it cannot be found.
    static QString expectedHash(const ReplaceItem &item, const Configuration &configuration);
    /// The refusal of an entry whose expected hash is not known.
    static QString noHashMessage(const ReplaceItem &item);
    /// Replaces `oldCopy` by a copy of `installed`, creating its directory
    /// first. The copy's result is not tested: a missing copy makes the
    /// patch that reads it fail.
    static void makeOldCopy(const QString &installed, const QString &oldCopy);
    /// The unpack task for the download `src`: the LZMA2 container unpack
    /// when the suffix of `src` (after its last ".") is exactly "_lzma2_",
    /// the gzip unpack otherwise.
    static SlowFileOpSpecification *makeUnpackTask(RollbackDataList *rollback, const QString &src,
                                                   const QString &dst, QObject *parent,
                                                   double weight);

public slots:
    void execute() override;
    /// Deletes the subtasks and undoes whatever is still in the local journal.
    void reset() override;
    /// Hands the local journal over and runs the executable check on
    /// success, undoes it otherwise, then ends by the subtasks' outcome.
    void subtasksDone() override;

private:
    void makeSubtasksAndStart();
    /// Moves an existing destination into the temporary directory and
    /// journals it; true when there was nothing to move or the move worked.
    bool keepReplacedFile();
    /// Ends the task Failed before any subtask was made.
    void failAtStart();

    ReplaceItem m_Item;
    RollbackDataList *m_Rollback;
    RollbackDataList m_LocalRollback;
    Configuration *m_Configuration;
    QString m_Src;
    QString m_DstName;
    QString m_Dst;
};
