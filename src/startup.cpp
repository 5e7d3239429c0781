#include "startup.h"

#include <QApplication>
#include <QDebug>
#include <QDir>

#include "configuration.h"
#include "updateengine.h"

void removeLeftovers(const QString &updaterBaseDir) {
    UpdateEngine::removeQt4Files(updaterBaseDir);
    UpdateEngine::removeOldFiles(updaterBaseDir);
    for (const char *sub : {"/old", "/imageformats", "/accessible", "/sqldrivers"}) {
        UpdateEngine::removeOldFiles(updaterBaseDir + QLatin1String(sub));
    }
    QDir().rmdir(updaterBaseDir + QStringLiteral("/old"));  // only when empty
    qDebug() << "Removing old files done";
}

int runUpdater(Configuration *configuration) {
    // Until the progress window exists, fatal configuration errors go to
    // the log and end the loop with status 1, as the window will do.
    QObject::connect(configuration, &Configuration::fatalError, qApp, [](const QString &text) {
        qCritical() << text;
        QCoreApplication::exit(1);
    });
    if (!configuration->parseCommandLineOptions()) {
        qWarning() << "Failed to parse command line options, aborting";
        return kRejectedCommandLine;
    }
    if (!configuration->m_Ready) {
        QObject::connect(configuration, &Configuration::ready, qApp,
                         [] { QCoreApplication::exit(0); });
        const int status = QApplication::exec();
        if (!configuration->m_Ready) {
            return status;
        }
    }
    qWarning() << "The progress window is not part of this build yet; target version"
               << configuration->m_VersionNumber << "of" << configuration->m_ClientType
               << "is not installed";
    return 0;
}
