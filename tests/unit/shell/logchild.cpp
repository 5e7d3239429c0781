// Child process for the log tests: the log decides at creation whether it is
// enabled, so each scenario needs a fresh process.
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <thread>
#include <vector>

#include "updatelog.h"

int main(int argc, char **argv) {
    UpdateLog::instance();
    qInstallMessageHandler(UpdateLog::messageHandler);
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("fatal")) {
        qDebug() << "before the end";
        qFatal("the end");
    }
    if (mode.startsWith(QLatin1String("batch"))) {
        {
            const UpdateLog::Batch batch;
            for (int i = 0; i < 300; ++i) {
                qInfo("batched line %d with some padding to make the line longer", i);
            }
            if (mode == QLatin1String("batch-fatal")) {
                qFatal("the end");
            }
            if (mode == QLatin1String("batch-flush")) {
                UpdateLog::flushNow();
                if (QFile file(UpdateLog::instance().filePath());
                    !file.open(QIODevice::ReadOnly) || file.readAll().count('\n') != 300) {
                    return 4;
                }
            }
        }
        // The batch is over: its lines must be in the file before any close.
        QFile file(UpdateLog::instance().filePath());
        const bool opened = file.open(QIODevice::ReadOnly);
        return opened && file.readAll().count('\n') == 300 ? 0 : 3;
    }
    if (mode == QLatin1String("threads")) {
        std::vector<std::thread> threads;
        threads.reserve(4);
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < 200; ++i) {
                    qInfo("thread %d line %d with some padding to make the line longer", t, i);
                }
            });
        }
        for (std::thread &thread : threads) {
            thread.join();
        }
    }
    qDebug() << "plain";
    qWarning("warned");
    UpdateLog::instance().close();
    return 0;
}
