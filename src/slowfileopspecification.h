#pragma once

#include <QString>

#include "asynctaskspecification.h"
#include "rollback.h"

/// Base of the file operations that run on a pool thread (copy, unpack,
/// patch). It holds the file names and the ready-made failure text; when
/// the worker reports success it records the destination as FILE_CREATE,
/// whether or not the file existed before, so that undoing the journal
/// removes it. On failure it emits the failure text and records nothing.
class SlowFileOpSpecification : public ASyncTaskSpecification {
    Q_OBJECT

public:
    /// `failMessage` is the complete failure text. `rollback` is the journal
    /// (null = record nothing); it is not owned.
    SlowFileOpSpecification(const QString &failMessage, RollbackDataList *rollback,
                            const QString &srcFile, const QString &dstFile, QObject *parent,
                            double weight);
    SlowFileOpSpecification(const QString &failMessage, RollbackDataList *rollback,
                            const QString &srcFile, const QString &patchFile,
                            const QString &dstFile, QObject *parent, double weight);

    const QString &srcFile() const { return m_SrcFile; }
    const QString &patchFile() const { return m_PatchFile; }
    const QString &dstFile() const { return m_DstFile; }
    const QString &failMessage() const { return m_FailMessage; }

protected:
    /// Runs on the main thread when the worker's result arrives: journals
    /// or reports, then ends the task as ASyncTaskSpecification does.
    void runDone(bool res) override;

    RollbackDataList *m_Rollback;
    QString m_SrcFile;
    QString m_PatchFile;
    QString m_DstFile;
    QString m_FailMessage;
};

/// Base of the workers of the slow file operations: copies of the task's
/// file names, taken when the worker is created.
class SlowFileOpFunc : public ASyncFunc {
    Q_OBJECT

public:
    SlowFileOpFunc(const QString &srcFile, const QString &dstFile);
    SlowFileOpFunc(const QString &srcFile, const QString &patchFile, const QString &dstFile);

protected:
    const QString m_SrcFile;
    const QString m_PatchFile;
    const QString m_DstFile;
};
