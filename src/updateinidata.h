#pragma once

#include <QString>

/// The session record and settings file "update.ini" in the updater base
/// directory, read and written through QSettings in INI format.
///
/// Group "current" records the session being worked on: "version" (int),
/// "dir" (the session's temporary directory), "vxmdir" (the client's
/// installation directory) and "type" (the client type). Writing it keeps
/// every other group of the file. Static operations only.
class UpdateIniData {
public:
    UpdateIniData() = delete;

    /// True when a valid session is recorded: "version" is an integer,
    /// "type" and "dir" are not empty and "dir" names an existing file or
    /// directory ("vxmdir" may be empty). Only then are the non-null outputs
    /// filled; otherwise they are left untouched.
    static bool get(int *version, QString *type, QString *dir, QString *vxmdir);

    /// Writes the "current" group and synchronises the file; true when that
    /// caused no error.
    static bool modify(int version, const QString &dir, const QString &vxmdir, const QString &type);

    /// Copies the recorded session into `dirPath`/update.ini with the type
    /// of the second pass ("client_macosx"). False when no valid session is
    /// recorded or the copy could not be written.
    static bool modifyTempIni(const QString &dirPath);

    /// Absolute path of "update.ini" in the updater base directory.
    static QString updateIniPath();
};
