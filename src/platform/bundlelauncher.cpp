#include "platform/bundlelauncher.h"

#include <QDebug>
#include <QFileInfo>
#include <QProcess>

#include "processtools.h"

namespace BundleLauncher {

namespace {

const char kClientBundleName[] = "Voxmere Client.app";
const char kClientExecutable[] = "vxmclient_mac";

}  // namespace

QString bundleExecutable(const QString &bundlePath) {
    const QString name = QFileInfo(bundlePath).fileName();
    QString executable = name;
    if (name == QLatin1String(kClientBundleName)) {
        executable = QLatin1String(kClientExecutable);
    } else if (name.endsWith(QLatin1String(".app"))) {
        executable.chop(4);
    }
    return bundlePath + QStringLiteral("/Contents/MacOS/") + executable;
}

void startVxmClient(const QString &installDir) {
    qDebug() << "startVxmClient_linux" << installDir;
    const QString program =
        bundleExecutable(installDir + QStringLiteral("../../") + QLatin1String(kClientBundleName));
    qDebug() << "starting" << program;
    if (!QProcess::startDetached(program, QStringList())) {
        qDebug() << "Failed to start" << program;
    }
}

void startNewUpdater(const QString &tempDir, const QStringList &args) {
    qDebug() << "startNewUpdater_linux" << tempDir << args;
    ProcessTools::writeArgsFile(args);
    const QString executable =
        bundleExecutable(tempDir + QStringLiteral("/SharedSupport/update.app"));
    const QString script = ProcessTools::writeStarterScript(ProcessTools::escapeSpaces(executable));
    if (script.isEmpty()) {
        qDebug() << "Failed to write temp update starter for second update step";
        return;
    }
    qDebug() << "starting" << script;
    // Detached, so that ending this updater never ends the script or the
    // new updater it runs.
    if (!QProcess::startDetached(QStringLiteral("/bin/sh"), {script})) {
        qDebug() << "Failed to start" << script;
    }
}

}  // namespace BundleLauncher
