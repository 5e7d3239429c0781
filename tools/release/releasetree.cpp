#include "releasetree.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include "filehash.h"

bool ReleaseTree::scan(const QString &root, QString *error) {
    m_Files.clear();
    m_Directories.clear();
    const QFileInfo rootInfo(root);
    if (!rootInfo.isDir() || !rootInfo.isReadable()) {
        *error = QStringLiteral("%1 is not a readable directory").arg(root);
        return false;
    }
    m_Root = rootInfo.absoluteFilePath();
    QDirIterator it(m_Root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (!addEntry(it.next(), error)) {
            return false;
        }
    }
    if (m_Files.isEmpty()) {
        *error = QStringLiteral("%1 holds no files").arg(root);
        return false;
    }
    return true;
}

bool ReleaseTree::addEntry(const QString &absolute, QString *error) {
    const QFileInfo info(absolute);
    const QString relative = QDir(m_Root).relativeFilePath(absolute);
    QString why;
    if (!ProductIniWriter::isPublishableName(relative, &why)) {
        *error = QStringLiteral("%1: cannot be published: %2").arg(absolute, why);
        return false;
    }
    if (info.isSymLink()) {
        *error = QStringLiteral("%1: symbolic links cannot be published").arg(absolute);
        return false;
    }
    if (!info.isReadable()) {
        *error = QStringLiteral("%1: not readable").arg(absolute);
        return false;
    }
    if (info.isDir()) {
        // The iterator silently skips a directory it cannot list.
        if (!info.isExecutable()) {
            *error = QStringLiteral("%1: directory cannot be listed").arg(absolute);
            return false;
        }
        m_Directories.insert(relative);
        return true;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("%1: not a regular file").arg(absolute);
        return false;
    }
    FileDigest digest;
    if (FileHash::sha512Hex(absolute, &digest.hash) != FileHash::Status::Ok) {
        *error = QStringLiteral("%1: cannot be read").arg(absolute);
        return false;
    }
    digest.size = static_cast<quint64>(info.size());
    m_Files.insert(relative, digest);
    return true;
}

QString ReleaseTree::absolutePath(const QString &path) const {
    return m_Root + QLatin1Char('/') + path;
}

quint64 ReleaseTree::totalBytes() const {
    quint64 total = 0;
    for (const FileDigest &digest : m_Files) {
        total += digest.size;
    }
    return total;
}
