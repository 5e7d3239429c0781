#pragma once

#include <QList>
#include <QString>

#include "productiniwriter.h"

class ReleaseTree;

/// The two update passes a release serves.
enum class ReleasePass { Client, Updater };

/// How one file of the new tree is published.
enum class LineKind {
    /// 2-part line: the file itself under its own name. Only the updater
    /// pass uses it: its downloads land where its new tree is assembled.
    /// The client pass installs a 2-part line by a plain copy, which never
    /// overwrites and checks no final hash, so it gets 5-part lines only.
    WholeFile,
    /// 5-part line: the compressed container, named target + "._lzma2_".
    Container,
    /// 5-part line: the file itself under target + "._raw_"; the gzip
    /// route of the installation passes a file without gzip header through.
    PassThrough,
    /// No line can install the file correctly: a client file that starts
    /// with the gzip magic (which the gzip route would unpack) needs a
    /// container, and none is available.
    Unpublishable,
};

/// One file of the new tree and where it goes on the update server.
struct PlannedFile {
    QString path;     ///< relative to the installation (the tree root)
    QString section;  ///< the product ini section and server folder
    QString target;   ///< name inside the section; the installed file
    FileDigest digest;
};

/// One "delete" line.
struct PlannedDelete {
    QString path;
    bool recursive = false;
};

/// What a release of one pass publishes, decided from the trees alone: the
/// section and target of every new file and the deletions. The choice of
/// line per file also needs the container's size and is made by chooseLine.
class ReleasePlan {
public:
    static const QString kClientSection;
    static const QString kCommonClientSection;
    static const QString kUpdaterSection;
    static const QString kContainerSuffix;
    static const QString kPassThroughSuffix;

    /// The product ini's file name for the pass (vxm_client_macosx.ini or
    /// update_macosx.ini).
    static QString productIniName(ReleasePass pass);

    /// Plans a release of newTree for installations that hold one of the
    /// old trees. A new-tree file whose name ends with "_patch_" is refused
    /// (the reader would take its line for a patch line). Deletions (client pass only; the updater
    /// pass never deletes) name the topmost path of every old-tree entry the new tree lacks,
    /// directories recursively. False when an old tree has a file where the new tree has a
    /// directory or the other way round: the installation cannot turn one into the other.
    bool make(ReleasePass pass, const ReleaseTree &newTree, const QList<ReleaseTree> &oldTrees,
              QString *error);

    const QList<PlannedFile> &files() const { return m_Files; }
    const QList<PlannedDelete> &deletes() const { return m_Deletes; }

    /// The line for a file of fileSize bytes whose container has
    /// containerSize bytes (-1: no container available). The container is
    /// used when it is smaller, and for a client file that starts with the
    /// gzip magic; otherwise the file itself is published.
    static LineKind chooseLine(ReleasePass pass, quint64 fileSize, qint64 containerSize,
                               bool startsWithGzipMagic);
    /// The download name of a file's line of the given kind.
    static QString downloadName(LineKind kind, const QString &target);

private:
    static void placeFile(ReleasePass pass, const QString &path, PlannedFile *file);
    bool checkKinds(const ReleaseTree &newTree, const ReleaseTree &oldTree, QString *error) const;
    void planDeletes(const ReleaseTree &newTree, const QList<ReleaseTree> &oldTrees);

    QList<PlannedFile> m_Files;
    QList<PlannedDelete> m_Deletes;
};
