#include "makedownloadreplacelisttaskspecification.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QVector>
#include <utility>

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "filehash.h"
#include "filereplacetaskspecification.h"
#include "heaptrim.h"
#include "updatelog.h"

namespace {

const QString kPatchSuffix = QStringLiteral("_patch_");
const QString kPartSeparator = QStringLiteral("::");
const QString kDirPlaceholder = QStringLiteral("__VXM_DIR__");
const QString kDeleteSection = QStringLiteral("delete");
const QString kPreInstallSection = QStringLiteral("preinstall");
const QString kPostInstallSection = QStringLiteral("postinstall");
constexpr int kThisPlatform = 5;

int platformCode(const QString &name) {
    static const struct {
        const char *name;
        int code;
    } kPlatforms[] = {{"win32", 1}, {"win64", 2}, {"linux32", 3}, {"linux64", 4}, {"mac", 5}};
    for (const auto &platform : kPlatforms) {
        if (name.compare(QLatin1String(platform.name), Qt::CaseInsensitive) == 0) {
            return platform.code;
        }
    }
    return 0;
}

QStringList valueParts(QSettings &ini, const QString &key) {
    return ini.value(key).toString().split(kPartSeparator);
}

}  // namespace

MakeDownloadReplaceListFunc::MakeDownloadReplaceListFunc(Configuration *configuration,
                                                         UpdateFileLists *lists)
    : m_Configuration(configuration), m_Lists(lists) {}

QString MakeDownloadReplaceListFunc::productIniPath(const Configuration &configuration) {
    const QString prefix = configuration.m_IsClientUpdate == 1 ? QStringLiteral("vxm_") : QString();
    return configuration.m_TempDir + QLatin1Char('/') + prefix +
           Configuration::defaultClientType(configuration.m_IsClientUpdate) +
           QStringLiteral(".ini");
}

bool MakeDownloadReplaceListFunc::isContainedPath(const QString &path) {
    // Backslashes count as separators too, so that a name cannot climb out on
    // a platform that reads them that way.
    QString normalized = path;
    normalized.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return !QDir::isAbsolutePath(normalized) && !normalized.startsWith(QLatin1Char('/')) &&
           !normalized.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}

bool MakeDownloadReplaceListFunc::run() {
    m_Lists->clear();
    m_Digests.clear();
    m_Count = 0;
    const QString iniPath = productIniPath(*m_Configuration);
    qDebug() << "prodIni" << iniPath;
    emit message(QStringLiteral("Compiling download and replace list for ") +
                 (m_Configuration->m_IsClientUpdate != 0 ? QStringLiteral("client")
                                                         : QStringLiteral("updater")));

    bool listed = false;
    {
        // Several lines per listed file, written in blocks: this step only
        // reads the installation (at most it settles a file's mode or copies
        // an updater file into the temporary directory), so a kill leaves
        // nothing half done that the log's last lines would have to explain.
        const UpdateLog::Batch batch;
        listed = readIni(iniPath);
    }
    // The parsed ini and the digests are gone now; what they took is handed
    // back before the downloads and the installation need memory of their own.
    m_Digests.clear();
    HeapTrim::releaseFreedMemory();
    return listed;
}

bool MakeDownloadReplaceListFunc::readIni(const QString &iniPath) {
    QSettings ini(iniPath, QSettings::IniFormat);
    const QStringList sections = ini.childGroups();
    m_Total = countKeys(ini, sections);
    if (m_Total == 0) {
        emit message(QStringLiteral("No files in product ini"));
        return false;
    }
    for (const QString &section : sections) {
        if (!readSection(ini, section)) {
            return false;
        }
    }
    return true;
}

int MakeDownloadReplaceListFunc::countKeys(QSettings &ini, const QStringList &sections) {
    int total = 0;
    for (const QString &section : sections) {
        ini.beginGroup(section);
        total += ini.allKeys().size();
        ini.endGroup();
    }
    return total;
}

bool MakeDownloadReplaceListFunc::readSection(QSettings &ini, const QString &section) {
    ini.beginGroup(section);
    QStringList keys = ini.allKeys();
    QStringList patchKeys;
    for (auto it = keys.begin(); it != keys.end();) {
        if (it->endsWith(kPatchSuffix)) {
            patchKeys.append(*it);
            it = keys.erase(it);
        } else {
            ++it;
        }
    }
    PatchMap patches;
    const bool valid = readPatchLines(ini, section, patchKeys, &patches);
    if (valid) {
        for (const QString &key : qAsConst(keys)) {
            if (section == kDeleteSection) {
                applyDeleteRule(ini, key);
            } else if (section == kPreInstallSection || section == kPostInstallSection) {
                applyCommandRule(ini, section, key);
            } else {
                applyFileRule(ini, section, key, patches);
            }
        }
    }
    ini.endGroup();
    return valid;
}

bool MakeDownloadReplaceListFunc::readPatchLines(QSettings &ini, const QString &section,
                                                 const QStringList &patchKeys, PatchMap *patches) {
    for (const QString &key : patchKeys) {
        const QString value = ini.value(key).toString();
        const QStringList parts = value.split(kPartSeparator);
        if (parts.size() != 5) {
            reportInvalidLine(section);
            return false;
        }
        const QString &targetName = parts.at(4);
        if (!isContainedPath(key) || !isContainedPath(targetName)) {
            reportInvalidLine(section);
            continue;
        }
        patches->insert(targetName, PatchInfo{key, value});
        qDebug() << "ADD PATCH" << targetName << key << parts.at(0) << parts.at(1).toULongLong()
                 << parts.at(2) << parts.at(3).toULongLong();
    }
    return true;
}

void MakeDownloadReplaceListFunc::applyDeleteRule(QSettings &ini, const QString &key) {
    advanceProgress();
    if (!isContainedPath(key)) {
        reportInvalidLine(kDeleteSection);
        return;
    }
    if (!QFileInfo::exists(m_Configuration->m_InstallDir + QLatin1Char('/') + key)) {
        return;
    }
    const int code = ini.value(key).toInt();
    if (code < 10 || code == 11) {
        m_Lists->deleteList.append(DeleteItem{key, code == 2});
    }
}

void MakeDownloadReplaceListFunc::applyCommandRule(QSettings &ini, const QString &section,
                                                   const QString &key) {
    const QStringList value = ini.value(key).toStringList();
    qDebug() << "prepostinstall cmd" << key << "v" << value;
    if (value.isEmpty()) {
        return;
    }
    if (!isContainedPath(key)) {
        reportInvalidLine(section);
        return;
    }
    const QStringList platforms = value.at(0).split(kPartSeparator);
    QStringList args = value.size() >= 2 ? value.at(1).split(kPartSeparator) : QStringList();
    const bool optional = value.size() >= 3 && value.at(2) == QLatin1String("optional");
    qDebug() << "--->" << key << "os list" << platforms << "args" << args << "required"
             << !optional;
    for (QString &arg : args) {
        arg.replace(kDirPlaceholder, m_Configuration->m_InstallDir);
    }
    qDebug() << "replaced args: " << args;

    QList<InstallCommand> &commands =
        section == kPreInstallSection ? m_Lists->preInstallList : m_Lists->postInstallList;
    for (const QString &platform : platforms) {
        if (platformCode(platform) == kThisPlatform) {
            commands.append(InstallCommand{key, args, !optional});
        }
    }
}

void MakeDownloadReplaceListFunc::applyFileRule(QSettings &ini, const QString &section,
                                                const QString &key, const PatchMap &patches) {
    advanceProgress();
    const QStringList parts = valueParts(ini, key);
    if (parts.size() != 2 && parts.size() != 5) {
        reportInvalidLine(section);
        return;
    }
    DownloadItem download{section, key, parts.at(0), parts.at(1).toULongLong()};
    ReplaceItem replace{section, key, QString(), 0, QString(), QString()};
    if (parts.size() == 5) {
        replace.finalHash = parts.at(2);
        replace.finalSize = parts.at(3).toULongLong();
        replace.targetName = parts.at(4);
    }
    if (!isContainedPath(key) || !isContainedPath(replace.targetName)) {
        reportInvalidLine(section);
        return;
    }

    const QString installed =
        m_Configuration->m_InstallDir + QLatin1Char('/') + replace.targetPath();
    const bool exists = QFileInfo::exists(installed);
    qDebug() << "CHECK PATCH" << replace.targetName << exists
             << patches.contains(replace.targetName);
    if (exists && !choosePatch(installed, patches, &replace, &download)) {
        const QString &expected = replace.targetName.isEmpty() ? download.hash : replace.finalHash;
        if (fileMatches(installed, expected)) {
            keepCurrentFile(installed, replace);
            return;
        }
    }
    m_Lists->replaceList.append(replace);
    queueDownload(download, key);
}

bool MakeDownloadReplaceListFunc::choosePatch(const QString &installed, const PatchMap &patches,
                                              ReplaceItem *replace, DownloadItem *download) {
    if (replace->targetName.isEmpty()) {
        return false;
    }
    const QList<PatchInfo> candidates = patches.values(replace->targetName);
    for (const PatchInfo &candidate : candidates) {
        const QVector<QStringRef> parts = candidate.value.splitRef(kPartSeparator);
        const QString oldHash = parts.at(2).toString();
        const bool match = fileMatches(installed, oldHash);
        qDebug() << "Check Sig" << installed << oldHash << "=>" << match;
        if (match) {
            replace->patchName = candidate.key;
            *download = DownloadItem{download->section, candidate.key, parts.at(0).toString(),
                                     parts.at(1).toULongLong()};
            qDebug() << "Found patch for" << replace->name << installed;
            return true;
        }
    }
    return false;
}

void MakeDownloadReplaceListFunc::keepCurrentFile(const QString &installed,
                                                  const ReplaceItem &replace) {
    if (m_Configuration->m_IsClientUpdate != 0) {
        // A run ended between writing this file and marking it executable
        // left the right content without the mode; nothing would replace
        // it again, so the mode is settled here.
        FileReplaceTaskSpecification::makeSingleFileExecutable(installed);
        return;
    }
    // The updater pass assembles a complete new updater in the temporary
    // directory, so files that need no update are copied there as they are.
    const QString copy = m_Configuration->m_TempDir + QLatin1Char('/') + replace.targetPath();
    const QString copyDir = QFileInfo(copy).absolutePath();
    if (!QFileInfo::exists(copyDir)) {
        QDir().mkpath(copyDir);
    }
    const bool copied = QFile::copy(installed, copy);
    m_Digests.remove(copy);
    qDebug() << "Copying updater files:" << installed << "to" << copy << copied;
}

void MakeDownloadReplaceListFunc::queueDownload(const DownloadItem &download, const QString &key) {
    const QString downloaded = m_Configuration->m_TempDir + QLatin1Char('/') + download.name;
    if (QFileInfo::exists(downloaded) && fileMatches(downloaded, download.hash)) {
        return;
    }
    m_Lists->downloadList.append(download);
    qDebug() << "Queueing download:" << key;
    // A queued download is in the file at once, as before the step's lines
    // were batched: someone following the log may act on it.
    UpdateLog::flushNow();
}

bool MakeDownloadReplaceListFunc::fileMatches(const QString &path, const QString &expectedHash) {
    if (expectedHash.isEmpty()) {
        return CheckSigFunc(path, expectedHash).run();
    }
    auto digest = m_Digests.constFind(path);
    if (digest == m_Digests.constEnd()) {
        QString computed;
        FileHash::sha512Hex(path, &computed);
        digest = m_Digests.insert(path, QByteArray::fromHex(computed.toLatin1()));
    }
    // The digest text is lower-case hexadecimal, as FileHash made it.
    return !digest->isEmpty() &&
           CheckSigFunc::digestMatches(expectedHash, QString::fromLatin1(digest->toHex()));
}

void MakeDownloadReplaceListFunc::advanceProgress() {
    ++m_Count;
    emit progress(static_cast<double>(m_Count) / m_Total);
}

void MakeDownloadReplaceListFunc::reportInvalidLine(const QString &section) {
    emit message(
        QStringLiteral("Warning: product ini contains invalid line in section %1").arg(section));
}

MakeDownloadReplaceListTaskSpecification::MakeDownloadReplaceListTaskSpecification(
    Configuration *configuration, UpdateFileLists *destination, QObject *parent, double weight)
    : ASyncTaskSpecification(parent, weight),
      m_Configuration(configuration),
      m_Destination(destination) {}

ASyncFunc *MakeDownloadReplaceListTaskSpecification::createFunc() {
    return new MakeDownloadReplaceListFunc(m_Configuration, &m_Lists);
}

void MakeDownloadReplaceListTaskSpecification::runDone(bool res) {
    if (res) {
        // Moved, not shared: this task keeps no second reference that would
        // hold the lists after the main task has dropped or changed them.
        *m_Destination = std::move(m_Lists);
        m_Lists.clear();
    }
    ASyncTaskSpecification::runDone(res);
}
