#include <google/protobuf/stubs/common.h>

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QLocale>
#include <QTranslator>
#include <memory>

#include "configuration.h"
#include "mainwindow.h"
#include "startup.h"
#include "updatelog.h"

int main(int argc, char **argv) {
    GOOGLE_PROTOBUF_VERIFY_VERSION;
    qRegisterMetaType<UpdateVersions>("UpdateVersions");
    UpdateLog::instance();
    qInstallMessageHandler(UpdateLog::messageHandler);

    QApplication app(argc, argv);
    const QString baseDir = Configuration::updaterBaseDir();
    qDebug() << "Voxmere updater started";
    removeLeftovers(baseDir);

    const QString locale = QLocale::system().name();
    QTranslator updateTranslator;
    QTranslator qtTranslator;
    updateTranslator.load(baseDir + QStringLiteral("/translations/update_") + locale);
    QApplication::installTranslator(&updateTranslator);
    qtTranslator.load(baseDir + QStringLiteral("/translations/qt_") + locale);
    QApplication::installTranslator(&qtTranslator);

    auto configuration = std::make_unique<Configuration>();
    auto window = std::make_unique<MainWindow>(configuration.get());
    const int status = runUpdater(configuration.get(), window.get());
    if (status != kRejectedCommandLine) {
        UpdateLog::instance().close();
        google::protobuf::ShutdownProtobufLibrary();
    }
    window.reset();  // the engine goes with it, before the configuration
    configuration.reset();
    return status == kRejectedCommandLine ? 1 : status;
}
