#pragma once

#include <QList>
#include <QString>

#include "composedtaskspecification.h"
#include "updatefilelists.h"

class CheckSignatureTaskSpecification;
class Configuration;

/// Runs the steps given to it one after another; the first step that fails
/// ends it Failed. Used for the transform of one updater file followed by
/// the check of its result.
class UpdaterFileTaskSpecification : public ComposedTaskSpecification {
    Q_OBJECT

public:
    UpdaterFileTaskSpecification(QObject *parent, double weight);

    /// Appends a step created with this task as its parent.
    void appendStep(TaskSpecification *step);

public slots:
    void execute() override;
};

/// The first pass's installation step: completes a new updater inside the
/// temporary directory T, in the layout the files have below the client
/// bundle's Contents directory, and prepares it to run the second pass.
///
/// Each entry with a target name is unpacked or patched (against a copy of
/// the installed file, T/targetPath + "_old") into T/targetPath, two at a
/// time, and the result is checked against its final hash; the download of
/// each entry installed unchanged is checked against its line's hash. Any
/// mismatch removes the file and fails the step without preparing the tree,
/// so no session file or link marks an unverified updater as ready.
/// Otherwise, also after a failed transform, the tree is prepared: mode 0755
/// for MacOS/update and .dylib files, the Frameworks and Plugins links of the
/// new bundle, its update.ini (UpdateIniData::modifyTempIni) and the
/// translations that are not there yet. Nothing outside T is written.
class UpdateSelfUnzipTaskSpecification : public ComposedTaskSpecification {
    Q_OBJECT

public:
    /// Neither `replaceList` (read when execute() runs) nor `configuration`
    /// is owned.
    UpdateSelfUnzipTaskSpecification(const QList<ReplaceItem> *replaceList,
                                     Configuration *configuration, QObject *parent, double weight);

public slots:
    void execute() override;
    void reset() override;
    void subtasksDone() override;

private slots:
    void onCheckDone(bool pass, CheckSignatureTaskSpecification *check);

private:
    void makeSubtasksAndStart();
    void addTransform(const ReplaceItem &item);
    /// A check of `path` against the non-empty `hash` that fails the step.
    CheckSignatureTaskSpecification *makeCheck(const QString &path, const QString &hash,
                                               QObject *parent, double weight);
    /// Executable modes, removal of the whole-file downloads inside the new
    /// bundle, and the two links.
    void prepareTree();
    void copyTranslations();
    QString tempPath(const QString &relative) const;

    const QList<ReplaceItem> *m_ReplaceList;
    Configuration *m_Configuration;
    /// A produced or downloaded file did not have its expected hash.
    bool m_CheckFailed = false;
};
