#include "releaseplan.h"

#include <QMap>

#include "releasetree.h"

const QString ReleasePlan::kClientSection = QStringLiteral("client");
const QString ReleasePlan::kCommonClientSection = QStringLiteral("common_client");
const QString ReleasePlan::kUpdaterSection = QStringLiteral("update");
const QString ReleasePlan::kContainerSuffix = QStringLiteral("._lzma2_");
const QString ReleasePlan::kPassThroughSuffix = QStringLiteral("._raw_");

namespace {

const QString kSharedSupport = QStringLiteral("SharedSupport/");

QString parentOf(const QString &path) {
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

}  // namespace

QString ReleasePlan::productIniName(ReleasePass pass) {
    return pass == ReleasePass::Client ? QStringLiteral("vxm_client_macosx.ini")
                                       : QStringLiteral("update_macosx.ini");
}

bool ReleasePlan::make(ReleasePass pass, const ReleaseTree &newTree,
                       const QList<ReleaseTree> &oldTrees, QString *error) {
    m_Files.clear();
    m_Deletes.clear();
    for (const ReleaseTree &oldTree : oldTrees) {
        if (!checkKinds(newTree, oldTree, error)) {
            return false;
        }
    }
    for (auto it = newTree.files().cbegin(); it != newTree.files().cend(); ++it) {
        PlannedFile file;
        placeFile(pass, it.key(), &file);
        file.digest = it.value();
        if (file.target.endsWith(ProductIniWriter::kPatchSuffix)) {
            *error = QStringLiteral("%1: names ending with %2 are reserved for patches")
                         .arg(newTree.absolutePath(it.key()), ProductIniWriter::kPatchSuffix);
            return false;
        }
        m_Files.append(file);
    }
    if (pass == ReleasePass::Client) {
        planDeletes(newTree, oldTrees);
    }
    return true;
}

void ReleasePlan::placeFile(ReleasePass pass, const QString &path, PlannedFile *file) {
    file->path = path;
    file->target = path;
    if (pass == ReleasePass::Updater) {
        // The updater pass assembles its files in the temporary directory
        // under their full paths; its section must not add a prefix.
        file->section = kUpdaterSection;
    } else if (path.startsWith(kSharedSupport)) {
        file->section = kCommonClientSection;
        file->target = path.mid(kSharedSupport.size());
    } else {
        file->section = kClientSection;
    }
}

bool ReleasePlan::checkKinds(const ReleaseTree &newTree, const ReleaseTree &oldTree,
                             QString *error) const {
    for (auto it = oldTree.files().cbegin(); it != oldTree.files().cend(); ++it) {
        if (newTree.hasDirectory(it.key())) {
            *error = QStringLiteral("%1 is a file in %2 but a directory in %3")
                         .arg(it.key(), oldTree.root(), newTree.root());
            return false;
        }
    }
    for (auto it = newTree.files().cbegin(); it != newTree.files().cend(); ++it) {
        if (oldTree.hasDirectory(it.key())) {
            *error = QStringLiteral("%1 is a directory in %2 but a file in %3")
                         .arg(it.key(), oldTree.root(), newTree.root());
            return false;
        }
    }
    return true;
}

void ReleasePlan::planDeletes(const ReleaseTree &newTree, const QList<ReleaseTree> &oldTrees) {
    // path -> recursive; QMap keeps the lines in path order.
    QMap<QString, bool> gone;
    for (const ReleaseTree &oldTree : oldTrees) {
        for (const QString &dir : oldTree.directories()) {
            if (!newTree.hasDirectory(dir)) {
                gone.insert(dir, true);
            }
        }
        for (auto it = oldTree.files().cbegin(); it != oldTree.files().cend(); ++it) {
            if (!newTree.hasFile(it.key()) && !gone.contains(it.key())) {
                gone.insert(it.key(), false);
            }
        }
    }
    for (auto it = gone.cbegin(); it != gone.cend(); ++it) {
        // Inside a directory that goes as a whole: the recursive delete
        // covers it, and a second line would fail after it.
        const QString parent = parentOf(it.key());
        if (!parent.isEmpty() && gone.value(parent, false)) {
            continue;
        }
        m_Deletes.append(PlannedDelete{it.key(), it.value()});
    }
}

LineKind ReleasePlan::chooseLine(ReleasePass pass, quint64 fileSize, qint64 containerSize,
                                 bool startsWithGzipMagic) {
    const bool haveContainer = containerSize >= 0;
    if (haveContainer && static_cast<quint64>(containerSize) < fileSize) {
        return LineKind::Container;
    }
    if (pass == ReleasePass::Updater) {
        return LineKind::WholeFile;
    }
    if (!startsWithGzipMagic) {
        return LineKind::PassThrough;
    }
    return haveContainer ? LineKind::Container : LineKind::Unpublishable;
}

QString ReleasePlan::downloadName(LineKind kind, const QString &target) {
    switch (kind) {
        case LineKind::Container:
            return target + kContainerSuffix;
        case LineKind::PassThrough:
            return target + kPassThroughSuffix;
        case LineKind::WholeFile:
        case LineKind::Unpublishable:
            break;
    }
    return target;
}
