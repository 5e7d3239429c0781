#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

/// One file to fetch from the update server.
struct DownloadItem {
    /// The file section of the product ini; the folder on the update server.
    QString section;
    /// File name on the server (under the section) and path under the temporary directory.
    QString name;
    /// Expected SHA-512 of the downloaded file, hexadecimal.
    QString hash;
    /// Expected size in bytes.
    quint64 size = 0;
};

/// One file to install from the downloads.
struct ReplaceItem {
    /// The file section of the product ini.
    QString section;
    /// The file line's key: the whole-file download's name.
    QString name;
    /// SHA-512 of the installed result; empty for a download installed unchanged.
    QString finalHash;
    /// Size of the installed result; 0 for a download installed unchanged.
    quint64 finalSize = 0;
    /// Installed name when it differs from name; empty otherwise.
    QString targetName;
    /// The downloaded patch that rebuilds the target, when one was chosen.
    QString patchName;

    /// The installed file's path relative to the installation directory:
    /// targetName (or name when it is empty), with prefix put in front of its
    /// file-name part (a/b with prefix x gives a/xb), under "SharedSupport/"
    /// for the section "common_client".
    QString targetPath(const QString &prefix = QString()) const;
};

/// One file or directory to remove, relative to the installation directory.
struct DeleteItem {
    QString name;
    bool recursive = false;
};

/// One program to run before or after the installation.
struct InstallCommand {
    /// The program's file name, relative to the temporary directory.
    QString name;
    /// Its arguments, with every "__VXM_DIR__" already replaced by the installation directory.
    QStringList args;
    /// False when a failure of the command is tolerated.
    bool required = true;
};

/// The five lists that the product ini produces; filled by the list step and
/// read by the later steps of the update.
class UpdateFileLists {
public:
    QList<DownloadItem> downloadList;
    QList<ReplaceItem> replaceList;
    QList<DeleteItem> deleteList;
    QList<InstallCommand> preInstallList;
    QList<InstallCommand> postInstallList;

    /// Empties all five lists.
    void clear();
};
