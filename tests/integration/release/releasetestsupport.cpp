#include "releasetestsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QProcess>
#include <QRandomGenerator>

#include "configuration.h"
#include "makedownloadreplacelisttaskspecification.h"

namespace releasetest {

bool writeFile(const QString &root, const QString &relative, const QByteArray &data) {
    const QString path = root + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sha512(const QByteArray &data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha512).toHex());
}

QByteArray noise(int size, quint32 seed) {
    QRandomGenerator generator(seed);
    QByteArray bytes(size, '\0');
    for (char &byte : bytes) {
        byte = static_cast<char>(generator.bounded(256));
    }
    return bytes;
}

ToolRun runTool(const QStringList &args, const QString &workingDir) {
    QProcess process;
    if (!workingDir.isEmpty()) {
        process.setWorkingDirectory(workingDir);
    }
    process.start(QStringLiteral(VXM_RELEASE_TOOL), args);
    ToolRun run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        return run;
    }
    run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList entriesOf(const QString &dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

ListStepResult runListStep(int isClientUpdate, const QString &tempDir, const QString &installDir) {
    Configuration configuration;
    configuration.m_IsClientUpdate = isClientUpdate;
    configuration.m_TempDir = tempDir;
    configuration.m_InstallDir = installDir + QLatin1Char('/');
    ListStepResult result;
    MakeDownloadReplaceListFunc func(&configuration, &result.lists);
    QObject::connect(&func, &ASyncFunc::message,
                     [&result](const QString &text) { result.messages.append(text); });
    result.ok = func.run();
    return result;
}

}  // namespace releasetest
