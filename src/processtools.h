#pragma once

#include <QString>
#include <QStringList>

/// Starts the programs an updater pass hands over to when it ends: the
/// updated client after a second pass, the new updater from the session's
/// temporary directory after a first pass. Static operations only; nothing
/// is reported to the user, failures leave debug lines.
class ProcessTools {
public:
    ProcessTools() = delete;

    /// Starts the client bundle installDir + "../../Voxmere Client.app"
    /// detached (installDir is the bundle's Contents/ folder).
    static void startVxmClient(const QString &installDir);
    /// Leaves args in the argument file for the next pass and starts the new
    /// updater bundle tempDir + "/SharedSupport/update.app" through the
    /// starter script.
    static void startClientUpdater(const QString &tempDir, const QStringList &args);

    /// QDir::tempPath() + "/vxmclientupdateargs".
    static QString argsFilePath();
    /// QDir::tempPath() + "/update.sh".
    static QString starterScriptPath();
    /// Writes one argument per line (Latin-1, each ended by "\n") into a
    /// freshly created argument file. False when the file cannot be created.
    static bool writeArgsFile(const QStringList &args);
    /// Writes command (Latin-1, no line break) into a freshly created starter
    /// script with mode 0700; the result is the script's path, or empty when
    /// it cannot be created.
    static QString writeStarterScript(const QString &command);
    /// path with every space preceded by a backslash; nothing else escaped.
    static QString escapeSpaces(const QString &path);
    /// Creates path anew with the given permissions and content: whatever is
    /// at path (a file or a link, possibly planted by someone else) is
    /// unlinked first, and the new file is created exclusively without
    /// following links, so the content never lands in another file. The
    /// mode is set explicitly, independent of the process's creation mask.
    static bool writeFreshFile(const QString &path, const QByteArray &content, unsigned mode);
};
