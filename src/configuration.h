#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include "protobufhelper.h"

/// The file server's base URL of the current channel, always ending with "/".
/// Set by the channel detection of Configuration; read by the downloads when
/// they build a file's URL (base URL + version number + "/" + server path).
extern QString updateBaseUrl;

/// Everything one updater pass needs before the update starts: which pass
/// this is, the client type, the target version and channel, the session's
/// directories and the network settings. Members are read directly by the
/// engine, the window and the tasks; the object is created once, without a
/// parent, and lives until the process ends.
class Configuration : public QObject {
    Q_OBJECT

public:
    explicit Configuration(QObject *parent = nullptr);

    /// Parses QCoreApplication::arguments() (or the argument file when there
    /// is at most the program name). False rejects the command line; the
    /// reason has been emitted through fatalError.
    bool parseCommandLineOptions();
    /// The same for an explicit word list (word 0 is the program).
    bool parseCommandLineOptions(QStringList words);

    /// Sets the session's directories: the given ones of a continued session,
    /// or a fresh temporary directory and the default installation directory
    /// for empty texts. False when no temporary directory could be created.
    bool initalizeStart(const QString &tempDir, const QString &installDir);

    /// Reads proxy and parallel stream count from the base directory's update.ini.
    void loadUpdateSettings();

    /// The directory that holds update.app, ending with "/../../../".
    static QString updaterBaseDir();
    /// "client_macosx" for a non-zero flag, "update_macosx" otherwise.
    static QString defaultClientType(int isClientUpdate);
    /// Where a channel update.ini is searched first (VXM_CONFIG_DIR or the
    /// generic data location + "/Voxmere/"), ending with a separator.
    static QString configDir();

    /// Points updaterBaseDir at another directory; an empty text restores the
    /// default. Tests use it so that they never touch the build tree.
    static void overrideUpdaterBaseDir(const QString &dir);

    bool m_Ready = false;
    int m_IsClientUpdate = 0;
    int m_Channel = 0;
    QString m_ClientType;
    int m_VersionNumber = 0;
    QString m_VersionString;
    QString m_TempDir;
    QString m_InstallDir;
    QString m_Proxy;
    int m_Streams = 6;

signals:
    void ready();
    void fatalError(QString errorMessage);
    void message(QString message);

private slots:
    void on_updateAvailable(const UpdateVersions &versions);

private:
    static QStringList readArgsFile();
    void getUpdateChannel();
    /// True when a version query was started: m_Ready waits for its answer.
    bool getDefaultParameters();
    bool parseTypeAndVersion(const QStringList &words, int index);
    bool parseVersionNumber(const QString &text, const QString &message);
    bool createTempDir();
    void reportVersionQueryFailed();
};
