#include "updateselfunziptaskspecification.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "filereplacetaskspecification.h"
#include "filetaskspecification_patch.h"
#include "slowfileopspecification.h"
#include "updateinidata.h"

UpdaterFileTaskSpecification::UpdaterFileTaskSpecification(QObject *parent, double weight)
    : ComposedTaskSpecification(1, parent, weight) {}

void UpdaterFileTaskSpecification::appendStep(TaskSpecification *step) {
    addSubtask(step);
}

void UpdaterFileTaskSpecification::execute() {
    m_State = Running;
    startSubtasks();
}

UpdateSelfUnzipTaskSpecification::UpdateSelfUnzipTaskSpecification(
    const QList<ReplaceItem> *replaceList, Configuration *configuration, QObject *parent,
    double weight)
    : ComposedTaskSpecification(2, parent, weight),
      m_ReplaceList(replaceList),
      m_Configuration(configuration) {}

void UpdateSelfUnzipTaskSpecification::execute() {
    makeSubtasksAndStart();
}

void UpdateSelfUnzipTaskSpecification::reset() {
    clearSubtasks();
    m_CheckFailed = false;
    resetTaskState();
}

QString UpdateSelfUnzipTaskSpecification::tempPath(const QString &relative) const {
    return m_Configuration->m_TempDir + QLatin1Char('/') + relative;
}

void UpdateSelfUnzipTaskSpecification::makeSubtasksAndStart() {
    for (const ReplaceItem &item : *m_ReplaceList) {
        const QString hash = FileReplaceTaskSpecification::expectedHash(item, *m_Configuration);
        if (hash.isEmpty()) {
            emit message(FileReplaceTaskSpecification::noHashMessage(item));
            m_CheckFailed = true;
        } else if (item.targetName.isEmpty()) {
            addSubtask(makeCheck(tempPath(item.name), hash, this, 0.2));
        } else {
            addTransform(item);
        }
    }
    m_State = Running;
    startSubtasks();
}

void UpdateSelfUnzipTaskSpecification::addTransform(const ReplaceItem &item) {
    const QString targetPath = item.targetPath();
    qDebug() << "Extracting updater file" << item.name << targetPath << !item.patchName.isEmpty();
    const QString target = tempPath(targetPath);
    const QString dir = QFileInfo(target).absolutePath();
    if (!QFileInfo::exists(dir)) {
        QDir().mkpath(dir);
    }

    auto *chain = new UpdaterFileTaskSpecification(this, 1.0);
    if (!item.patchName.isEmpty()) {
        const QString oldCopy = target + QStringLiteral("_old");
        FileReplaceTaskSpecification::makeOldCopy(
            m_Configuration->m_InstallDir + QLatin1Char('/') + targetPath, oldCopy);
        emit message(QStringLiteral("Patching %1").arg(targetPath));
        chain->appendStep(new FileTaskSpecification_patch(
            nullptr, oldCopy, tempPath(item.patchName), target, chain, 0.8));
    } else {
        chain->appendStep(FileReplaceTaskSpecification::makeUnpackTask(nullptr, tempPath(item.name),
                                                                       target, chain, 0.8));
    }
    chain->appendStep(makeCheck(target, item.finalHash, chain, 0.2));
    addSubtask(chain);
}

CheckSignatureTaskSpecification *UpdateSelfUnzipTaskSpecification::makeCheck(const QString &path,
                                                                             const QString &hash,
                                                                             QObject *parent,
                                                                             double weight) {
    auto *check = new CheckSignatureTaskSpecification(path, hash, true, parent, weight);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
            &UpdateSelfUnzipTaskSpecification::onCheckDone);
    return check;
}

void UpdateSelfUnzipTaskSpecification::onCheckDone(bool pass,
                                                   CheckSignatureTaskSpecification *check) {
    if (pass) {
        return;
    }
    m_CheckFailed = true;
    // The new updater must not run with, or later continue from, a file
    // that is not what the verified product ini describes.
    qDebug() << "Removing unverified updater file" << check->fileName()
             << QFile::remove(check->fileName());
}

void UpdateSelfUnzipTaskSpecification::subtasksDone() {
    if (m_CheckFailed) {
        qDebug() << "Updater files failed their check; the new updater is not prepared";
        taskFailed();
        return;
    }
    prepareTree();
    if (!UpdateIniData::modifyTempIni(tempPath(QStringLiteral("SharedSupport")))) {
        qDebug() << "Failed to write temp update.ini";
        emit error(
            QStringLiteral("Failed to write temp update.ini. The updater does not seem to have the "
                           "required write permissions."));
        taskFailed();
        return;
    }
    copyTranslations();
    ComposedTaskSpecification::subtasksDone();
}

void UpdateSelfUnzipTaskSpecification::prepareTree() {
    for (const ReplaceItem &item : *m_ReplaceList) {
        const QString targetPath = item.targetPath();
        if (targetPath.endsWith(QLatin1String("/MacOS/update")) ||
            targetPath.endsWith(QLatin1String(".dylib"))) {
            qDebug() << "chmod +x" << targetPath;
            FileReplaceTaskSpecification::setExecutableMode(tempPath(targetPath));
        }
        if (!item.targetName.isEmpty() &&
            item.name.startsWith(QLatin1String("SharedSupport/update.app/"))) {
            QFile::remove(tempPath(item.name));
        }
    }
    const QString contents = tempPath(QStringLiteral("SharedSupport/update.app/Contents/"));
    for (const QString &name : {QStringLiteral("Frameworks"), QStringLiteral("Plugins")}) {
        const QString target = tempPath(name);
        const QString link = contents + name;
        qDebug() << "Create symlink" << target << link << QFile::link(target, link);
    }
}

void UpdateSelfUnzipTaskSpecification::copyTranslations() {
    const QDir source(Configuration::updaterBaseDir() + QStringLiteral("/translations"));
    const QStringList files =
        source.entryList({QStringLiteral("update_*.qm")}, QDir::Files, QDir::Unsorted);
    const QString destination = tempPath(QStringLiteral("SharedSupport/translations"));
    if (!QFileInfo::exists(destination)) {
        QDir().mkdir(destination);
    }
    for (const QString &file : files) {
        const QString from = source.filePath(file);
        const QString to = destination + QLatin1Char('/') + file;
        qDebug() << "Copying qm file" << from << to;
        if (!QFileInfo::exists(to)) {
            QFile::copy(from, to);
        }
    }
}
