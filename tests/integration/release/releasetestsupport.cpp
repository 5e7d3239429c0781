#include "releasetestsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QUrl>

#include "configuration.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "testhttpserver.h"

namespace releasetest {

const QByteArray kBasePath = "/updater-images/client/";

void serveTree(vxmtest::TestHttpServer *server, const QString &root) {
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        server->setReply(
            kBasePath + QUrl::toPercentEncoding(QDir(root).relativeFilePath(file), "/"),
            vxmtest::HttpReply::ok(readFile(file)));
    }
}

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

QByteArray libraryVersion(int version) {
    QByteArray bytes = noise(30000, 7);
    bytes.replace(1000 * version, 40, QByteArray(40, static_cast<char>('a' + version)));
    bytes.insert(20000, QByteArray("version ").repeated(version));
    return bytes;
}

bool makeSampleTrees(const QString &oldRoot, const QString &newRoot) {
    const QByteArray gzipMagic("\x1f\x8b", 2);
    const QList<QPair<QString, QByteArray>> oldFiles = {
        {"MacOS/vxmclient_mac", noise(3000, 1)},
        {"Resources/readme.txt", QByteArray("same in both\n").repeated(100)},
        {"Resources/gone.txt", "only in the old tree"},
        {"Resources/olddir/x.txt", "a directory the new tree lacks"},
        {"Frameworks/data.gz", gzipMagic + noise(2000, 2)},
        {"SharedSupport/update.ini.default", "x"},
        {"Frameworks/libcore.dylib", libraryVersion(1)},
    };
    const QList<QPair<QString, QByteArray>> newFiles = {
        {"MacOS/vxmclient_mac", noise(3000, 3)},
        {"Resources/readme.txt", QByteArray("same in both\n").repeated(100)},
        {"Resources/new file.txt", QByteArray("added, compresses\n").repeated(50)},
        {"Frameworks/data.gz", gzipMagic + noise(2000, 4)},
        {"SharedSupport/update.ini.default", "y"},
        {"empty.txt", QByteArray()},
        {"Frameworks/libcore.dylib", libraryVersion(2)},
    };
    for (const auto &file : oldFiles) {
        if (!writeFile(oldRoot, file.first, file.second)) {
            return false;
        }
    }
    for (const auto &file : newFiles) {
        if (!writeFile(newRoot, file.first, file.second)) {
            return false;
        }
    }
    return true;
}

bool copyTree(const QString &from, const QString &to) {
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (!writeFile(to, QDir(from).relativeFilePath(file), readFile(file))) {
            return false;
        }
    }
    return true;
}

QMap<QString, QByteArray> contentsOf(const QString &root) {
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        files.insert(QDir(root).relativeFilePath(file), readFile(file));
    }
    return files;
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
