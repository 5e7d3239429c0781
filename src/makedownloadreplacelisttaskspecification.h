#pragma once

#include <QByteArray>
#include <QHash>
#include <QMultiMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "asynctaskspecification.h"
#include "updatefilelists.h"

class Configuration;
class QSettings;

/// Reads the verified product ini of this pass from the temporary directory,
/// compares every listed file with the installation and fills the five lists
/// of UpdateFileLists: per file it decides between nothing (already current),
/// a patch whose old hash matches the installed file, or the whole download.
///
/// run() returns false for an empty or missing product ini and for a patch
/// line of the wrong shape; an invalid file, delete or command line is
/// reported and skipped. A line whose key or target name is absolute or has a
/// ".." component is invalid in every section, so that no entry can reach
/// outside the installation or the temporary directory.
///
/// Each installed or downloaded file is hashed at most once per run; the
/// digest is compared with every candidate hash.
class MakeDownloadReplaceListFunc : public ASyncFunc {
    Q_OBJECT

public:
    /// Neither pointer is owned; lists is written only from run().
    MakeDownloadReplaceListFunc(Configuration *configuration, UpdateFileLists *lists);

    bool run() override;

    /// The product ini of the configured pass: m_TempDir + "/" +
    /// "vxm_client_macosx.ini" (client pass) or "update_macosx.ini" (updater pass).
    static QString productIniPath(const Configuration &configuration);
    /// True for a relative path none of whose components is "..".
    static bool isContainedPath(const QString &path);

private:
    /// One patch line of the section being read, checked to have five parts.
    /// The value is the ini's own string (implicitly shared), so a listed
    /// patch costs no copy of its hashes; the parts are read from it when
    /// the patch is tried.
    struct PatchInfo {
        QString key;
        QString value;
    };
    /// Patches of one section by target name; values() gives the most
    /// recently added first.
    using PatchMap = QMultiMap<QString, PatchInfo>;

    /// The lists from the ini at iniPath; the parsed ini lives only here.
    bool readIni(const QString &iniPath);
    static int countKeys(QSettings &ini, const QStringList &sections);
    bool readSection(QSettings &ini, const QString &section);
    bool readPatchLines(QSettings &ini, const QString &section, const QStringList &patchKeys,
                        PatchMap *patches);
    void applyDeleteRule(QSettings &ini, const QString &key);
    void applyCommandRule(QSettings &ini, const QString &section, const QString &key);
    void applyFileRule(QSettings &ini, const QString &section, const QString &key,
                       const PatchMap &patches);
    bool choosePatch(const QString &installed, const PatchMap &patches, ReplaceItem *replace,
                     DownloadItem *download);
    void keepCurrentFile(const QString &installed, const ReplaceItem &replace);
    void queueDownload(const DownloadItem &download, const QString &key);

    /// The SHA-512 comparison of CheckSigFunc, on a digest computed once per
    /// path and run; an empty expected hash falls back to the RSA check.
    bool fileMatches(const QString &path, const QString &expectedHash);
    void advanceProgress();
    void reportInvalidLine(const QString &section);

    Configuration *const m_Configuration;
    UpdateFileLists *const m_Lists;
    int m_Count = 0;
    int m_Total = 0;
    /// Digest by path, the 64 bytes themselves (a quarter of their text as
    /// a QString); empty for a file that could not be read.
    QHash<QString, QByteArray> m_Digests;
};

/// The list step of the main task: runs MakeDownloadReplaceListFunc and, only
/// when it succeeds, copies its five lists into the destination on the main
/// thread. On failure the destination is left as it was.
class MakeDownloadReplaceListTaskSpecification : public ASyncTaskSpecification {
    Q_OBJECT

public:
    /// Neither configuration nor destination is owned.
    MakeDownloadReplaceListTaskSpecification(Configuration *configuration,
                                             UpdateFileLists *destination, QObject *parent,
                                             double weight);

protected:
    ASyncFunc *createFunc() override;
    void runDone(bool res) override;

private:
    Configuration *const m_Configuration;
    UpdateFileLists *const m_Destination;
    UpdateFileLists m_Lists;
};
