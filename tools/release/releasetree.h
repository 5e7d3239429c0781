#pragma once

#include <QMap>
#include <QSet>
#include <QString>

#include "productiniwriter.h"

/// One directory tree of a release (the content of a client bundle's
/// Contents directory, or the updater's files in the same layout): every
/// regular file by its relative path with its size and SHA-512, and every
/// directory.
///
/// A tree that cannot be published faithfully is refused as a whole, with
/// the offending path in the error: symbolic links and special files (the
/// product ini has no line for them), unreadable entries (which would
/// otherwise be missing from the release without notice) and names the
/// product ini cannot carry (ProductIniWriter::isPublishableName).
class ReleaseTree {
public:
    /// Scans root. False (with the reason in *error) when root is not a
    /// readable directory, holds no file, or holds an entry described above.
    bool scan(const QString &root, QString *error);

    QString root() const { return m_Root; }
    /// Files by relative path ("/"-separated), in path order.
    const QMap<QString, FileDigest> &files() const { return m_Files; }
    bool hasFile(const QString &path) const { return m_Files.contains(path); }
    bool hasDirectory(const QString &path) const { return m_Directories.contains(path); }
    const QSet<QString> &directories() const { return m_Directories; }
    /// Absolute path of a file of the tree.
    QString absolutePath(const QString &path) const;
    /// Sum of the sizes of all files.
    quint64 totalBytes() const;

private:
    bool addEntry(const QString &absolute, QString *error);

    QString m_Root;
    QMap<QString, FileDigest> m_Files;
    QSet<QString> m_Directories;
};
