#include "filereplacetaskspecification.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "filecopytaskspecification.h"
#include "filetaskspecification_patch.h"
#include "fileunpacktaskspecification_lzma2.h"
#include "fileunpacktaskspecification_zip.h"
#include "makedownloadreplacelisttaskspecification.h"

namespace {

/// Folder of the temporary directory that keeps the installed files a
/// replacement moved aside, under their paths relative to the installation.
/// The dot keeps it apart from the download names and the updater tree.
const char kReplacedDir[] = ".vxm_replaced";

const QStringList &executableNames() {
    static const QStringList names{
        QStringLiteral("vxmclient_mac"),
        QStringLiteral("update"),
        QStringLiteral("crash_sender"),
        QStringLiteral("plugin_setup"),
        QStringLiteral("QtWebEngineProcess"),
        QStringLiteral("libQt5Core"),
        QStringLiteral("libQt5Gui"),
        QStringLiteral("libQt5Network"),
        QStringLiteral("libQt5PrintSupport"),
        QStringLiteral("libQt5Sql"),
        QStringLiteral("libQt5Widgets"),
        QStringLiteral("libQt5Qml"),
        QStringLiteral("libQt5Quick"),
        QStringLiteral("libQt5Positioning"),
        QStringLiteral("libQt5WebChannel"),
        QStringLiteral("libQt5WebEngineCore"),
        QStringLiteral("libQt5WebEngineWidgets"),
    };
    return names;
}

const QStringList &executableSuffixes() {
    static const QStringList suffixes{QStringLiteral("dylib")};
    return suffixes;
}

}  // namespace

FileReplaceTaskSpecification::FileReplaceTaskSpecification(const ReplaceItem &item,
                                                           RollbackDataList *rollback,
                                                           Configuration *configuration,
                                                           QObject *parent, double weight)
    : ComposedTaskSpecification(1, parent, weight),
      m_Item(item),
      m_Rollback(rollback),
      m_Configuration(configuration) {}

void FileReplaceTaskSpecification::execute() {
    emit message(QStringLiteral("add/replace %1").arg(m_Item.name));
    makeSubtasksAndStart();
}

void FileReplaceTaskSpecification::makeSubtasksAndStart() {
    const QString &tempDir = m_Configuration->m_TempDir;
    m_Src = QDir(tempDir).filePath(m_Item.name);
    m_DstName = m_Item.targetPath();
    m_Dst = QDir(m_Configuration->m_InstallDir).filePath(m_DstName);
    const bool hasPatch = !m_Item.targetName.isEmpty() && !m_Item.patchName.isEmpty();
    const QString patch = tempDir + QLatin1Char('/') + m_Item.patchName;
    qDebug() << "FileReplaceTaskSpecification: spec:" << m_Item.name << " src:" << m_Src
             << " dstFile:" << m_Dst << " hasPatch:" << hasPatch << " patchFile:" << patch;

    // The hash is looked up before anything changes, so that an entry whose
    // result cannot be checked is refused with the installation untouched.
    const QString hash = expectedHash(m_Item, *m_Configuration);
    if (hash.isEmpty()) {
        emit message(noHashMessage(m_Item));
        failAtStart();
        return;
    }
    const QString tempOld = tempDir + QLatin1Char('/') + m_DstName + QStringLiteral("_old");
    if (hasPatch) {
        qDebug() << "HAS PATCH" << patch;
        makeOldCopy(m_Dst, tempOld);
    }
    if (!keepReplacedFile()) {
        failAtStart();
        return;
    }

    if (hasPatch) {
        emit message(QStringLiteral("Patching %1").arg(m_DstName));
        addSubtask(
            new FileTaskSpecification_patch(&m_LocalRollback, tempOld, patch, m_Dst, this, 0.8));
    } else if (!m_Item.targetName.isEmpty()) {
        addSubtask(makeUnpackTask(&m_LocalRollback, m_Src, m_Dst, this, 0.8));
    } else {
        addSubtask(new FileCopyTaskSpecification(&m_LocalRollback, m_Src, m_Dst, this, 0.8));
    }
    // Also after a plain copy: the check right after the download only
    // reports a mismatch, so a file altered since would otherwise be kept.
    addSubtask(new CheckSignatureTaskSpecification(m_Dst, hash, true, this, 0.2));
    m_State = Running;
    startSubtasks();
}

void FileReplaceTaskSpecification::failAtStart() {
    m_State = Running;
    taskFailed();
}

bool FileReplaceTaskSpecification::keepReplacedFile() {
    const QFileInfo installed(m_Dst);
    // A directory in the way is not moved: the write fails on it as before.
    if ((!installed.exists() || installed.isDir()) && !installed.isSymLink()) {
        return true;
    }
    const QString kept = QDir(m_Configuration->m_TempDir)
                             .filePath(QLatin1String(kReplacedDir) + QLatin1Char('/') + m_DstName);
    // A copy left by an interrupted earlier run is older than the installed
    // file, which is what an undo must bring back now.
    QFile::remove(kept);
    QDir().mkpath(QFileInfo(kept).absolutePath());
    // QFile::rename copies and removes when the temporary directory is on
    // another file system.
    if (!QFile::rename(m_Dst, kept)) {
        emit message(QStringLiteral("Could not move '%1' aside to '%2'").arg(m_Dst, kept));
        return false;
    }
    qDebug() << "Kept replaced file" << m_Dst << "as" << kept;
    m_LocalRollback.append(RollbackData::fileReplace(kept, m_Dst));
    return true;
}

void FileReplaceTaskSpecification::subtasksDone() {
    const TaskState result = subtasksResult();
    if (result == Finished) {
        if (m_Rollback != nullptr) {
            m_Rollback->append(m_LocalRollback);
        }
        // Handed over: undoing them is the list's business from now on.
        m_LocalRollback.clear();
        makeSingleFileExecutable(m_Dst);
    } else {
        rollbackAll(&m_LocalRollback, this);
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceTaskSpecification::reset() {
    clearSubtasks();
    rollbackAll(&m_LocalRollback, this);
    resetTaskState();
}

void FileReplaceTaskSpecification::makeSingleFileExecutable(const QString &path) {
    const QFileInfo info(path);
    qDebug() << "Executable check" << path << info.fileName() << info.completeSuffix();
    if (executableNames().contains(info.fileName()) ||
        executableSuffixes().contains(info.completeSuffix())) {
        setExecutableMode(path);
        qDebug() << "Set executable flag on" << path;
    }
}

void FileReplaceTaskSpecification::setExecutableMode(const QString &path) {
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ExeOwner | QFileDevice::ReadUser |
                                    QFileDevice::WriteUser | QFileDevice::ExeUser |
                                    QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                    QFileDevice::ReadOther | QFileDevice::ExeOther);
}

QString FileReplaceTaskSpecification::expectedHash(const ReplaceItem &item,
                                                   const Configuration &configuration) {
    if (!item.targetName.isEmpty()) {
        return item.finalHash;
    }
    const QSettings ini(MakeDownloadReplaceListFunc::productIniPath(configuration),
                        QSettings::IniFormat);
    const QString value = ini.value(item.section + QLatin1Char('/') + item.name).toString();
    const QStringList parts = value.split(QStringLiteral("::"));
    return parts.size() == 2 ? parts.at(0) : QString();
}

QString FileReplaceTaskSpecification::noHashMessage(const ReplaceItem &item) {
    return QStringLiteral("No hash known for '%1'").arg(item.name);
}

void FileReplaceTaskSpecification::makeOldCopy(const QString &installed, const QString &oldCopy) {
    if (QFileInfo::exists(oldCopy)) {
        qDebug() << "Remove" << oldCopy << QFile::remove(oldCopy);
    }
    const QString dir = QFileInfo(oldCopy).absolutePath();
    qDebug() << "tempOldAbsPath" << dir << QFileInfo::exists(dir);
    if (!QFileInfo::exists(dir)) {
        qDebug() << "Created" << QDir().mkpath(dir);
    }
    qDebug() << "Copy" << installed << "->" << oldCopy << QFile::copy(installed, oldCopy);
}

SlowFileOpSpecification *FileReplaceTaskSpecification::makeUnpackTask(RollbackDataList *rollback,
                                                                      const QString &src,
                                                                      const QString &dst,
                                                                      QObject *parent,
                                                                      double weight) {
    if (QFileInfo(src).suffix() == QLatin1String("_lzma2_")) {
        return new FileUnpackTaskSpecification_lzma2(rollback, src, dst, parent, weight);
    }
    return new FileUnpackTaskSpecification_zip(rollback, src, dst, parent, weight);
}
