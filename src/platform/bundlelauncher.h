#pragma once

#include <QString>
#include <QStringList>

/// Linux stand-ins for opening macOS bundles: a bundle is a directory, and
/// opening it starts its executable Contents/MacOS/<name> detached.
namespace BundleLauncher {

/// The executable of a bundle: Contents/MacOS/vxmclient_mac for the client
/// bundle "Voxmere Client.app", Contents/MacOS/<name without ".app"> for any
/// other bundle (update.app -> update).
QString bundleExecutable(const QString &bundlePath);

/// Starts the client bundle installDir + "../../Voxmere Client.app" detached.
void startVxmClient(const QString &installDir);

/// Writes the argument file, writes the starter script (the new updater's
/// executable with escaped spaces) and runs it detached with /bin/sh.
void startNewUpdater(const QString &tempDir, const QStringList &args);

}  // namespace BundleLauncher
