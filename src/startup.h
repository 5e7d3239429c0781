#pragma once

#include <QString>

class Configuration;
class MainWindow;

/// Returned by runUpdater when the command line was rejected before the
/// event loop ran; the process then exits with status 1.
constexpr int kRejectedCommandLine = -1;

/// Removes what earlier updater generations left next to update.app, in the
/// order the clean-up needs: Qt 4 frameworks, "_old_" files in the base
/// directory and its plug-in folders, then an empty "old" directory.
void removeLeftovers(const QString &updaterBaseDir);

/// Parses the command line and, when it is accepted, schedules the start of
/// the session 2000 ms later, shows the window (created with the same
/// configuration) and runs the event loop; returns the loop's exit status,
/// or kRejectedCommandLine without showing the window.
int runUpdater(Configuration *configuration, MainWindow *window);
