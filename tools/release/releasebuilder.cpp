#include "releasebuilder.h"

#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "filehash.h"
#include "releasecodec.h"
#include "releasekeys.h"

namespace {

bool startsWithGzipMagic(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray head = file.read(2);
    return head.size() == 2 && static_cast<unsigned char>(head.at(0)) == 0x1f &&
           static_cast<unsigned char>(head.at(1)) == 0x8b;
}

bool makeParentDir(const QString &path, QString *error) {
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create directory %1").arg(dir);
        return false;
    }
    return true;
}

bool digestOf(const QString &path, FileDigest *digest, QString *error) {
    if (FileHash::sha512Hex(path, &digest->hash) != FileHash::Status::Ok) {
        *error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    digest->size = static_cast<quint64>(QFileInfo(path).size());
    return true;
}

// A hard link where the file system allows one, else a copy: the carried
// over files of the other pass stay byte for byte what was published.
bool linkOrCopy(const QString &from, const QString &to) {
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) {
        return true;
    }
    return QFile::copy(from, to);
}

}  // namespace

ReleaseBuilder::ReleaseBuilder(const BuildOptions &options, QTextStream *progress)
    : m_Options(options), m_Progress(progress) {}

bool ReleaseBuilder::run(QString *error) {
    if (!ReleaseCodec::available()) {
        *error = QStringLiteral(
            "this build of the engine has no compressed file container; cannot build releases");
        return false;
    }
    if (!loadInputs(error)) {
        return false;
    }
    if (!QDir().mkpath(m_Options.outRoot)) {
        *error = QStringLiteral("cannot create %1").arg(m_Options.outRoot);
        return false;
    }
    QTemporaryDir staging(QDir(m_Options.outRoot).filePath(QStringLiteral(".vxm-release-XXXXXX")));
    if (!staging.isValid()) {
        *error = QStringLiteral("cannot create a temporary directory in %1").arg(m_Options.outRoot);
        return false;
    }
    m_ScratchPath = staging.filePath(QStringLiteral("scratch"));
    const QString versionDir = staging.filePath(QString::number(m_Options.version));
    const QString existing = QDir(m_Options.outRoot).filePath(QString::number(m_Options.version));
    return QDir().mkpath(versionDir) && publishFiles(versionDir, error) && addCommandLines(error) &&
           writeProductIni(versionDir, error) && carryOverOtherPass(existing, versionDir, error) &&
           installVersionDir(staging.path(), error);
}

bool ReleaseBuilder::loadInputs(QString *error) {
    if (!ReleaseKeys::loadPrivate(m_Options.keyFile, &m_Key, error)) {
        return false;
    }
    if (!ReleaseKeys::isBuiltInKey(m_Key)) {
        *m_Progress << "warning: " << m_Options.keyFile
                    << " is not the key built into this updater; its updaters will refuse "
                       "this release\n";
        m_Progress->flush();
    }
    if (!m_NewTree.scan(m_Options.newTree, error)) {
        return false;
    }
    for (const QString &root : qAsConst(m_Options.oldTrees)) {
        ReleaseTree tree;
        if (!tree.scan(root, error)) {
            return false;
        }
        m_OldTrees.append(tree);
    }
    const QString iniName = ReleasePlan::productIniName(m_Options.pass);
    for (const QString &name : {iniName, iniName + ReleasePlan::kContainerSuffix,
                                iniName + ReleaseKeys::kSignatureSuffix}) {
        m_TempNames.insert(name);
    }
    return m_Plan.make(m_Options.pass, m_NewTree, m_OldTrees, error);
}

bool ReleaseBuilder::publishFiles(const QString &versionDir, QString *error) {
    quint64 bytesDone = 0;
    int done = 0;
    for (const PlannedFile &file : m_Plan.files()) {
        PublishedLine line;
        if (!publishFile(file, versionDir, &line, error) ||
            !addPatchLines(file, line, versionDir, error)) {
            return false;
        }
        bytesDone += file.digest.size;
        reportProgress(++done, bytesDone, file.path);
    }
    for (const PlannedDelete &entry : m_Plan.deletes()) {
        if (!m_Ini.addDelete(entry.path, entry.recursive)) {
            *error = m_Ini.error();
            return false;
        }
        ++m_Summary.deletes;
    }
    return true;
}

bool ReleaseBuilder::publishFile(const PlannedFile &file, const QString &versionDir,
                                 PublishedLine *line, QString *error) {
    const QString source = m_NewTree.absolutePath(file.path);
    const QString sectionDir = versionDir + QLatin1Char('/') + file.section + QLatin1Char('/');
    const QString containerName = ReleasePlan::downloadName(LineKind::Container, file.target);
    const QString containerPath = sectionDir + containerName;
    if (!makeParentDir(containerPath, error) ||
        !makeContainer(source, file.digest, containerPath, error)) {
        return false;
    }
    const qint64 containerSize = QFileInfo(containerPath).size();
    const LineKind kind = ReleasePlan::chooseLine(m_Options.pass, file.digest.size, containerSize,
                                                  startsWithGzipMagic(source));
    if (kind == LineKind::Unpublishable) {
        *error = QStringLiteral("%1 cannot be published without a container").arg(source);
        return false;
    }
    const QString name = ReleasePlan::downloadName(kind, file.target);
    if (!claimTempName(name, error)) {
        return false;
    }
    FileDigest download = file.digest;
    bool added = false;
    if (kind == LineKind::Container) {
        download.size = static_cast<quint64>(containerSize);
        if (!digestOf(containerPath, &download, error)) {
            return false;
        }
        added = m_Ini.addTransformedFile(file.section, name, download, file.digest, file.target);
        ++m_Summary.containers;
    } else {
        QFile::remove(containerPath);
        if (!QFile::copy(source, sectionDir + name)) {
            *error = QStringLiteral("cannot copy %1 to %2").arg(source, sectionDir + name);
            return false;
        }
        added = kind == LineKind::WholeFile ? m_Ini.addWholeFile(file.section, name, download)
                                            : m_Ini.addTransformedFile(file.section, name, download,
                                                                       file.digest, file.target);
        ++m_Summary.storedFiles;
    }
    if (!added) {
        *error = m_Ini.error();
        return false;
    }
    line->kind = kind;
    line->downloadSize = download.size;
    ++m_Summary.files;
    m_Summary.inputBytes += file.digest.size;
    m_Summary.publishedBytes += download.size;
    return true;
}

bool ReleaseBuilder::makeContainer(const QString &source, const FileDigest &digest,
                                   const QString &container, QString *error) {
    if (!ReleaseCodec::compressFile(source, container, true)) {
        *error = QStringLiteral("cannot compress %1").arg(source);
        return false;
    }
    const QString &check = m_ScratchPath;
    FileDigest rebuilt;
    const bool same = ReleaseCodec::decompressFile(container, check) &&
                      digestOf(check, &rebuilt, error) &&
                      FileHash::sameHash(rebuilt.hash, digest.hash);
    QFile::remove(check);
    if (!same) {
        *error = QStringLiteral("the container of %1 does not unpack to the file").arg(source);
        return false;
    }
    return true;
}

bool ReleaseBuilder::addPatchLines(const PlannedFile &file, const PublishedLine &line,
                                   const QString &versionDir, QString *error) {
    if (line.kind == LineKind::WholeFile) {
        return true;
    }
    QSet<QString> oldHashes;
    for (int i = 0; i < m_OldTrees.size(); ++i) {
        const ReleaseTree &tree = m_OldTrees.at(i);
        if (!tree.hasFile(file.path)) {
            continue;
        }
        const FileDigest old = tree.files().value(file.path);
        const QString key = old.hash.toLower();
        if (FileHash::sameHash(old.hash, file.digest.hash) || oldHashes.contains(key)) {
            continue;
        }
        oldHashes.insert(key);
        if (!addPatchLine(file, line, tree.absolutePath(file.path), old, i + 1, versionDir,
                          error)) {
            return false;
        }
    }
    return true;
}

bool ReleaseBuilder::addPatchLine(const PlannedFile &file, const PublishedLine &line,
                                  const QString &oldPath, const FileDigest &old, int treeNumber,
                                  const QString &versionDir, QString *error) {
    const QString name = file.target + QLatin1Char('.') + QString::number(treeNumber) +
                         ProductIniWriter::kPatchSuffix;
    const QString patchPath =
        versionDir + QLatin1Char('/') + file.section + QLatin1Char('/') + name;
    FileDigest patch;
    if (!ReleaseCodec::generatePatch(oldPath, m_NewTree.absolutePath(file.path), patchPath) ||
        !digestOf(patchPath, &patch, error)) {
        QFile::remove(patchPath);
        *m_Progress << "warning: no patch from " << oldPath << ": the engine could not build it\n";
        m_Progress->flush();
        return true;
    }
    if (patch.size >= line.downloadSize) {
        QFile::remove(patchPath);
        return true;
    }
    // The updater applies the patch exactly like this before it checks the
    // final hash; a patch that would fail there is not published.
    FileDigest rebuilt;
    const bool rebuilds = ReleaseCodec::applyPatch(oldPath, patchPath, m_ScratchPath) &&
                          digestOf(m_ScratchPath, &rebuilt, error) &&
                          FileHash::sameHash(rebuilt.hash, file.digest.hash);
    QFile::remove(m_ScratchPath);
    if (!rebuilds) {
        QFile::remove(patchPath);
        *m_Progress << "warning: no patch from " << oldPath << ": it does not rebuild " << file.path
                    << "\n";
        m_Progress->flush();
        return true;
    }
    if (!claimTempName(name, error)) {
        return false;
    }
    if (!m_Ini.addPatch(file.section, name, patch, old, file.target)) {
        *error = m_Ini.error();
        return false;
    }
    ++m_Summary.patches;
    m_Summary.patchBytes += patch.size;
    m_Summary.patchSavedBytes += line.downloadSize - patch.size;
    return true;
}

bool ReleaseBuilder::claimTempName(const QString &name, QString *error) {
    if (m_TempNames.contains(name)) {
        *error = QStringLiteral(
                     "two downloads would share the name %1 in the updater's temporary directory")
                     .arg(name);
        return false;
    }
    m_TempNames.insert(name);
    return true;
}

bool ReleaseBuilder::addCommandLines(QString *error) {
    const struct {
        const QList<CommandOption> &commands;
        ProductIniWriter::Phase phase;
    } kLists[] = {{m_Options.preInstall, ProductIniWriter::Phase::PreInstall},
                  {m_Options.postInstall, ProductIniWriter::Phase::PostInstall}};
    for (const auto &list : kLists) {
        for (const CommandOption &command : list.commands) {
            if (!m_Ini.addCommand(list.phase, command.name, command.args, command.optional)) {
                *error = m_Ini.error();
                return false;
            }
        }
    }
    return true;
}

bool ReleaseBuilder::writeProductIni(const QString &versionDir, QString *error) {
    const QString iniPath =
        versionDir + QLatin1Char('/') + ReleasePlan::productIniName(m_Options.pass);
    const QString compressed = iniPath + ReleasePlan::kContainerSuffix;
    FileDigest digest;
    if (!m_Ini.write(iniPath, error) || !ReleaseKeys::sign(iniPath, m_Key, error) ||
        !digestOf(iniPath, &digest, error) || !makeContainer(iniPath, digest, compressed, error)) {
        return false;
    }
    // Only the compressed ini and its signature are served.
    QFile::remove(iniPath);
    return true;
}

bool ReleaseBuilder::isOwnedByPass(const QString &entryName) const {
    const QString iniName = ReleasePlan::productIniName(m_Options.pass);
    if (entryName.startsWith(iniName)) {
        return true;
    }
    if (m_Options.pass == ReleasePass::Updater) {
        return entryName == ReleasePlan::kUpdaterSection;
    }
    return entryName == ReleasePlan::kClientSection ||
           entryName == ReleasePlan::kCommonClientSection;
}

bool ReleaseBuilder::carryOverOtherPass(const QString &existing, const QString &staged,
                                        QString *error) const {
    const QDir existingDir(existing);
    if (!existingDir.exists()) {
        return true;
    }
    const QStringList entries =
        existingDir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &entry : entries) {
        if (isOwnedByPass(entry)) {
            continue;
        }
        const QString from = existingDir.filePath(entry);
        QStringList files;
        if (QFileInfo(from).isDir()) {
            QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                files.append(it.next());
            }
        } else {
            files.append(from);
        }
        for (const QString &file : qAsConst(files)) {
            const QString to = staged + QLatin1Char('/') + existingDir.relativeFilePath(file);
            if (!makeParentDir(to, error) || !linkOrCopy(file, to)) {
                *error = QStringLiteral("cannot carry %1 over into the new release").arg(file);
                return false;
            }
        }
    }
    return true;
}

bool ReleaseBuilder::installVersionDir(const QString &stagingRoot, QString *error) const {
    const QString name = QString::number(m_Options.version);
    const QString target = QDir(m_Options.outRoot).filePath(name);
    const QString staged = stagingRoot + QLatin1Char('/') + name;
    // The replaced tree moves into the staging directory, which is removed
    // with everything in it when the build ends.
    const QString previous = stagingRoot + QStringLiteral("/previous");
    const bool hadPrevious = QFileInfo::exists(target);
    if (hadPrevious && !QDir().rename(target, previous)) {
        *error = QStringLiteral("cannot move %1 aside").arg(target);
        return false;
    }
    if (!QDir().rename(staged, target)) {
        if (hadPrevious) {
            QDir().rename(previous, target);
        }
        *error = QStringLiteral("cannot move the new release to %1").arg(target);
        return false;
    }
    return true;
}

void ReleaseBuilder::reportProgress(int done, quint64 bytesDone, const QString &path) {
    *m_Progress << "[" << done << "/" << m_Plan.files().size() << "] " << bytesDone << "/"
                << m_NewTree.totalBytes() << " bytes  " << path << "\n";
    m_Progress->flush();
}

QString ReleaseBuilder::summaryText() const {
    const qint64 compressionSaved =
        static_cast<qint64>(m_Summary.inputBytes) - static_cast<qint64>(m_Summary.publishedBytes);
    return QStringLiteral(
               "%1 pass, version %2: %3 files (%4 compressed, %5 stored), %6 bytes in, %7 bytes "
               "published, compression saved %8 bytes; %9 patches (%10 bytes, saved %11 bytes); "
               "%12 deletes")
        .arg(m_Options.pass == ReleasePass::Client ? QStringLiteral("client")
                                                   : QStringLiteral("updater"))
        .arg(m_Options.version)
        .arg(m_Summary.files)
        .arg(m_Summary.containers)
        .arg(m_Summary.storedFiles)
        .arg(m_Summary.inputBytes)
        .arg(m_Summary.publishedBytes)
        .arg(compressionSaved)
        .arg(m_Summary.patches)
        .arg(m_Summary.patchBytes)
        .arg(m_Summary.patchSavedBytes)
        .arg(m_Summary.deletes);
}
