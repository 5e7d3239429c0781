#pragma once

#include <QObject>
#include <QString>

/// Owns one update session. For now it provides the start-up clean-ups of
/// files that earlier updater generations left behind; the session itself
/// (initialise, run the main task, poll, clean up) grows here.
class UpdateEngine : public QObject {
    Q_OBJECT

public:
    /// Removes "_old_<name>" leftovers of earlier self-updates from dir;
    /// failures are ignored.
    static void removeOldFiles(const QString &dir);
    /// Removes the Qt 4 frameworks of old client generations (dir is the
    /// updater base directory) and the framework links of the sibling tools;
    /// real directories in the tools are left alone. Failures are ignored.
    static void removeQt4Files(const QString &dir);
    /// Deletes everything inside path (hidden files included, links deleted
    /// as links, never followed); path itself stays.
    static void removeDirRecursively(const QString &path);
};
