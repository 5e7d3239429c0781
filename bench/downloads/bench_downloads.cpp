// Benchmark driver: downloads the files of a manifest with the product's
// download step on a real event loop, polled once a second as the update
// engine does, and prints the wall time.
//
// Usage: vxm_bench_downloads BASE_URL VERSION MANIFEST OUTDIR STREAMS [transfer-only]
//   BASE_URL  ends with "/"; files are fetched from BASE_URL VERSION/SECTION/NAME
//   MANIFEST  lines "SECTION NAME SIZE SHA512HEX"
//   transfer-only  runs the HTTP transfers alone, without the hash checks
// Exit status 0 when every file arrived (and matched its hash), 1 otherwise.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

#include "configuration.h"
#include "downloadtaskspecification.h"

namespace {

bool readManifest(const QString &path, QList<DownloadItem> *items) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return false;
    }
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QStringList fields = in.readLine().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() != 4) {
            continue;
        }
        DownloadItem item;
        item.section = fields[0];
        item.name = fields[1];
        item.size = fields[2].toULongLong();
        item.hash = fields[3];
        items->append(item);
    }
    return !items->isEmpty();
}

/// The transfers of the list without the per-file hash check, to tell the
/// transfer's share of the wall time from the check's.
class TransferOnlyTask : public ComposedTaskSpecification {
public:
    TransferOnlyTask(const QList<DownloadItem> &items, QNetworkAccessManager *manager,
                     const Configuration &configuration)
        : ComposedTaskSpecification(configuration.m_Streams, nullptr, 1.0) {
        for (const DownloadItem &item : items) {
            addSubtask(new DownloadTaskSpecification(
                manager, item.section + QLatin1Char('/') + item.name, configuration.m_VersionNumber,
                configuration.m_TempDir + QLatin1Char('/') + item.name, qint64(item.size), this,
                1.0));
        }
    }
    void execute() override { startSubtasks(); }
};

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    // The per-file debug lines would only measure the terminal.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const QStringList args = app.arguments();
    if (args.size() != 6 && !(args.size() == 7 && args[6] == QLatin1String("transfer-only"))) {
        std::fprintf(stderr, "usage: %s BASE_URL VERSION MANIFEST OUTDIR STREAMS [transfer-only]\n",
                     argv[0]);
        return 2;
    }
    QList<DownloadItem> items;
    if (!readManifest(args[3], &items)) {
        std::fprintf(stderr, "cannot read manifest %s\n", qPrintable(args[3]));
        return 2;
    }
    updateBaseUrl = args[1];
    Configuration configuration;
    configuration.m_VersionNumber = args[2].toInt();
    configuration.m_TempDir = args[4];
    configuration.m_Streams = args[5].toInt();
    QNetworkAccessManager manager;
    DownloadFileListTaskSpecification fileList(&items, &manager, &configuration, nullptr, 1.0);
    TransferOnlyTask transfers(items, &manager, configuration);
    ComposedTaskSpecification &list =
        args.size() == 7 ? static_cast<ComposedTaskSpecification &>(transfers) : fileList;
    QStringList problems;
    QObject::connect(&list, &TaskSpecification::message, [&](const QString &line) {
        if (line.contains(QLatin1String("failed")) || line.contains(QLatin1String("Unable"))) {
            problems.append(line);
        }
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        quint64 done = 0, total = 0, speed = 0;
        bool downloading = false;
        list.getDownloadProgress(done, total, speed, downloading);
    });
    QObject::connect(&list, &TaskSpecification::finished, &app, &QCoreApplication::quit);
    QObject::connect(&list, &TaskSpecification::canceled, &app, &QCoreApplication::quit);
    QElapsedTimer clock;
    clock.start();
    poll.start(1000);
    QTimer::singleShot(0, &list, &TaskSpecification::execute);
    app.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    for (const QString &p : qAsConst(problems)) {
        std::fprintf(stderr, "%s\n", qPrintable(p));
    }
    const bool ok = list.state() == Finished && problems.isEmpty();
    std::printf("files=%d streams=%d seconds=%.3f result=%s\n", int(items.size()),
                configuration.m_Streams, seconds, ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
