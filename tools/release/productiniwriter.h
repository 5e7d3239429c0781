#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QtGlobal>

/// Size and SHA-512 (lower-case hexadecimal) of one file.
struct FileDigest {
    QString hash;
    quint64 size = 0;
};

/// Collects the lines of one product ini and writes them in the form the
/// updater's list step reads: Qt's INI syntax through QSettings (so key
/// escaping, quoting and list values round-trip exactly), values of file
/// and patch lines joined with "::".
///
/// Every add function checks that the reader will see the line as written:
/// names must be relative paths without "..", backslash or "::" components
/// (isPublishableName), file and patch lines must not use the reserved
/// sections, a file line's key must not end with "_patch_" and a patch
/// line's key must, and a key appears once per section. A rejected line is not recorded; the first
/// rejection is kept and makes write() fail, so a faulty ini is never produced.
class ProductIniWriter {
public:
    enum class Phase { PreInstall, PostInstall };

    static const QString kDeleteSection;
    static const QString kPreInstallSection;
    static const QString kPostInstallSection;
    static const QString kPatchSuffix;

    /// True when name can be a key or target name of the product ini: not
    /// empty, relative, no "." or ".." component, no backslash, no "::", no
    /// empty component and no leading or trailing white space. Otherwise
    /// why (when given) says what is wrong.
    static bool isPublishableName(const QString &name, QString *why = nullptr);

    /// A 2-part line: name is downloaded and installed unchanged.
    bool addWholeFile(const QString &section, const QString &name, const FileDigest &download);
    /// A 5-part line: the download name is turned into target at install.
    bool addTransformedFile(const QString &section, const QString &name, const FileDigest &download,
                            const FileDigest &result, const QString &target);
    /// A patch line: name (ending with "_patch_") rebuilds target from an
    /// installed file with the digest old.
    bool addPatch(const QString &section, const QString &name, const FileDigest &patch,
                  const FileDigest &old, const QString &target);
    /// A "delete" line: code 2 for a recursive delete, else 1.
    bool addDelete(const QString &path, bool recursive);
    /// A command line for the mac platform. Arguments must not contain "::"
    /// and must not be empty. An optional command without arguments is
    /// refused, because the reader would hand it one empty argument.
    bool addCommand(Phase phase, const QString &name, const QStringList &args, bool optional);

    /// Number of lines recorded so far.
    int lineCount() const { return m_Lines.size(); }
    /// The first rejection, empty when every line was accepted.
    QString error() const { return m_Error; }

    /// Writes the ini to path, replacing a file that is there. False (with
    /// the reason in *error) after a rejected line or when the file cannot
    /// be written; a failed write leaves no file at path.
    bool write(const QString &path, QString *error) const;

private:
    struct Line {
        QString section;
        QString key;
        QStringList value;  ///< one string, or the elements of a list value
        bool isList = false;
    };

    bool checkFileSection(const QString &section, const QString &name);
    bool checkFileLine(const QString &section, const QString &name);
    bool reject(const QString &reason);
    bool append(const QString &section, const QString &key, const QStringList &value,
                bool isList = false);

    QList<Line> m_Lines;
    QSet<QString> m_Keys;
    QString m_Error;
};
