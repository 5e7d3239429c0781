#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QTextStream>

#include "buildoptions.h"
#include "productiniwriter.h"
#include "releaseplan.h"
#include "releasetree.h"
#include "rsacrypt.h"

/// What a build published, for the summary line.
struct BuildSummary {
    int files = 0;
    int containers = 0;
    int storedFiles = 0;  ///< published as they are (2-part or pass-through lines)
    int patches = 0;
    int deletes = 0;
    quint64 inputBytes = 0;      ///< sum of the new tree's file sizes
    quint64 publishedBytes = 0;  ///< sum of the whole-file downloads
    quint64 patchBytes = 0;      ///< sum of the patch downloads
    /// Bytes a patch saves against the whole-file download it replaces.
    quint64 patchSavedBytes = 0;
};

/// `vxm-release build`: publishes one pass of one version under
/// ROOT/N/ as the update file server serves it: every new-tree file as a
/// download under ROOT/N/<section>/, and the product ini compressed
/// (<ini>._lzma2_) and signed (<ini>.sig) under ROOT/N/.
///
/// Everything is built in a temporary directory inside ROOT and moved to
/// ROOT/N only when complete; the files of the other pass already in ROOT/N
/// are carried over, those of an earlier build of this pass are replaced.
/// On failure ROOT/N is as it was and nothing else is left in ROOT.
/// Every container is unpacked again and compared with its file before it
/// is published, so an engine fault cannot reach an installation.
class ReleaseBuilder {
public:
    /// progress receives one line per file and the warnings.
    ReleaseBuilder(const BuildOptions &options, QTextStream *progress);

    /// Runs the whole build; false with the reason in *error.
    bool run(QString *error);
    const BuildSummary &summary() const { return m_Summary; }
    /// The summary as one line of text.
    QString summaryText() const;

private:
    bool loadInputs(QString *error);
    /// The line a file was published with and the size of its download.
    struct PublishedLine {
        LineKind kind = LineKind::WholeFile;
        quint64 downloadSize = 0;
    };

    bool publishFiles(const QString &versionDir, QString *error);
    bool publishFile(const PlannedFile &file, const QString &versionDir, PublishedLine *line,
                     QString *error);
    bool makeContainer(const QString &source, const FileDigest &digest, const QString &container,
                       QString *error);
    /// Adds a "_patch_" line, and its patch file beside the file's download,
    /// for every distinct old version of file that differs from it, when the
    /// patch is smaller than that download. The patch from the n-th old tree
    /// (counted from 1) is named target + "." + n + "_patch_". A 2-part line
    /// gets no patches: the list step only patches files with a target.
    bool addPatchLines(const PlannedFile &file, const PublishedLine &line,
                       const QString &versionDir, QString *error);
    /// One patch from oldPath; a patch that is not smaller or that does not
    /// rebuild the file exactly is left out (the latter with a warning).
    bool addPatchLine(const PlannedFile &file, const PublishedLine &line, const QString &oldPath,
                      const FileDigest &old, int treeNumber, const QString &versionDir,
                      QString *error);
    bool claimTempName(const QString &name, QString *error);
    bool addCommandLines(QString *error);
    bool writeProductIni(const QString &versionDir, QString *error);
    bool carryOverOtherPass(const QString &existing, const QString &staged, QString *error) const;
    bool isOwnedByPass(const QString &entryName) const;
    bool installVersionDir(const QString &stagingRoot, QString *error) const;
    void reportProgress(int done, quint64 bytesDone, const QString &path);

    BuildOptions m_Options;
    QTextStream *m_Progress;
    RsaKey m_Key;
    ReleaseTree m_NewTree;
    QList<ReleaseTree> m_OldTrees;
    ReleasePlan m_Plan;
    ProductIniWriter m_Ini;
    /// Download names claimed so far: every download lands in the updater's
    /// temporary directory under its name, whatever its section.
    QSet<QString> m_TempNames;
    BuildSummary m_Summary;
    /// Where each container is unpacked again for its check.
    QString m_ScratchPath;
};
