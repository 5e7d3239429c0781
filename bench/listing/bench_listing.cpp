// Times the list step over an installation, and SHA-512 implementations over
// files. Used by run.sh; prints one result line per run.
//
//   bench_listing list INSTALL_DIR TEMP_DIR   list step (client pass) once
//   bench_listing hash qt|openssl FILE...     SHA-512 of each file, MB/s
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

#include "configuration.h"
#include "filehash.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "rsacrypt.h"

namespace {

// The updater writes no log unless its marker exists; the benchmark measures
// that default, so diagnostic lines are dropped instead of printed.
void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

int timeListStep(const QString &installDir, const QString &tempDir) {
    Configuration config;
    config.m_IsClientUpdate = 1;
    config.m_InstallDir = installDir.endsWith('/') ? installDir : installDir + '/';
    config.m_TempDir = tempDir;
    UpdateFileLists lists;
    MakeDownloadReplaceListFunc func(&config, &lists);
    QElapsedTimer timer;
    timer.start();
    const bool ok = func.run();
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("list step: %s, %d downloads, %d replaces, %.3f s\n", ok ? "ok" : "FAILED",
                lists.downloadList.size(), lists.replaceList.size(), seconds);
    return ok ? 0 : 1;
}

bool hashWithQt(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Sha512);
    return hash.addData(&file) && !hash.result().isEmpty();
}

bool hashWithOpenssl(const QString &path) {
    QString digest;
    return FileHash::sha512Hex(path, &digest) == FileHash::Status::Ok;
}

int timeHashes(const QString &implementation, const QStringList &files) {
    const bool qt = implementation == QLatin1String("qt");
    qint64 bytes = 0;
    QElapsedTimer timer;
    timer.start();
    for (const QString &file : files) {
        if (!(qt ? hashWithQt(file) : hashWithOpenssl(file))) {
            std::fprintf(stderr, "cannot hash %s\n", qPrintable(file));
            return 1;
        }
        bytes += QFile(file).size();
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("sha512 %s: %.1f MB in %.3f s, %.0f MB/s\n", qPrintable(implementation),
                bytes / 1e6, seconds, bytes / 1e6 / seconds);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    RsaCrypt::registerAlgorithms();
    qInstallMessageHandler(dropMessage);
    if (args.size() == 3 && args.at(0) == QLatin1String("list")) {
        return timeListStep(args.at(1), args.at(2));
    }
    if (args.size() >= 3 && args.at(0) == QLatin1String("hash") &&
        (args.at(1) == QLatin1String("qt") || args.at(1) == QLatin1String("openssl"))) {
        return timeHashes(args.at(1), args.mid(2));
    }
    std::fprintf(stderr,
                 "usage: bench_listing list INSTALL_DIR TEMP_DIR\n"
                 "       bench_listing hash qt|openssl FILE...\n");
    return 2;
}
