#include "startup.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QTimer>

#include "configuration.h"
#include "mainwindow.h"
#include "updateengine.h"

namespace {

constexpr int kStartDelayMs = 2000;

}  // namespace

void removeLeftovers(const QString &updaterBaseDir) {
    UpdateEngine::removeQt4Files(updaterBaseDir);
    UpdateEngine::removeOldFiles(updaterBaseDir);
    for (const char *sub : {"/old", "/imageformats", "/accessible", "/sqldrivers"}) {
        UpdateEngine::removeOldFiles(updaterBaseDir + QLatin1String(sub));
    }
    QDir().rmdir(updaterBaseDir + QStringLiteral("/old"));  // only when empty
    qDebug() << "Removing old files done";
}

int runUpdater(Configuration *configuration, MainWindow *window) {
    if (!configuration->parseCommandLineOptions()) {
        qWarning() << "Failed to parse command line options, aborting";
        return kRejectedCommandLine;
    }
    // Whichever comes first and finds the configuration ready starts the
    // session: this tick or the configuration's ready() after a version query.
    QTimer::singleShot(kStartDelayMs, window, SLOT(onStartUpdate()));
    window->updateHeader();
    window->show();
    window->delete_force_update_files();
    return QApplication::exec();
}
