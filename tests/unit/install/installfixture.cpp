#include "installfixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "makedownloadreplacelisttaskspecification.h"
#include "taskspecification.h"
#include "vxdelta.h"

namespace installfixture {

QFileDevice::Permissions plainMode() {
    return QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
           QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther;
}

QFileDevice::Permissions executableMode() {
    return plainMode() | QFileDevice::ExeOwner | QFileDevice::ExeUser | QFileDevice::ExeGroup |
           QFileDevice::ExeOther;
}

QString sha512Hex(const QByteArray &data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha512).toHex());
}

bool writeFile(const QString &path, const QByteArray &data, QFileDevice::Permissions mode) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size()) {
        return false;
    }
    file.close();
    return file.setPermissions(mode);
}

bool writeGzip(const QString &path, const QByteArray &data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    gzFile file = gzopen(path.toUtf8().constData(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written =
        data.isEmpty() || gzwrite(file, data.constData(), data.size()) == data.size();
    return (gzclose(file) == Z_OK) && written;
}

bool writeLzma2(const QString &path, const QByteArray &data) {
    QTemporaryDir scratch;
    const QString plain = scratch.filePath(QStringLiteral("plain"));
    if (!scratch.isValid() || !writeFile(plain, data)) {
        return false;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    return vxdelta::CompressFile(plain.toUtf8().constData(), path.toUtf8().constData(), false);
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeIni(const QString &path, const QMap<QString, QMap<QString, QString>> &sections) {
    QSettings ini(path, QSettings::IniFormat);
    for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
        ini.beginGroup(section.key());
        for (auto line = section->cbegin(); line != section->cend(); ++line) {
            ini.setValue(line.key(), line.value());
        }
        ini.endGroup();
    }
    ini.sync();
    return ini.status() == QSettings::NoError;
}

QMap<QString, QByteArray> snapshot(const QString &root) {
    QMap<QString, QByteArray> entries;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QByteArray entry = QByteArray::number(int(info.permissions()), 8) + ' ';
        if (info.isSymLink()) {
            entry += "link " + info.symLinkTarget().toUtf8();
        } else if (info.isDir()) {
            entry += "dir";
        } else {
            entry += "file " + readFile(info.filePath());
        }
        entries.insert(base.relativeFilePath(info.filePath()), entry);
    }
    return entries;
}

bool waitForEnd(const TaskSpecification &task) {
    return QTest::qWaitFor([&task] { return task.state() >= Finished; }, kWaitMs);
}

bool runToEnd(TaskSpecification &task) {
    task.execute();
    return waitForEnd(task);
}

QStringList texts(const QSignalSpy &spy) {
    QStringList result;
    for (const QList<QVariant> &arguments : spy) {
        result.append(arguments.value(0).toString());
    }
    return result;
}

Session::Session(int isClientUpdate) {
    m_Configuration.m_IsClientUpdate = isClientUpdate;
    m_Configuration.m_TempDir = temp();
    m_Configuration.m_InstallDir = install() + QLatin1Char('/');
    QDir().mkpath(temp());
    QDir().mkpath(install());
}

QString Session::install(const QString &relative) const {
    return relative.isEmpty() ? m_Root.filePath(QStringLiteral("install"))
                              : m_Root.filePath(QStringLiteral("install/") + relative);
}

QString Session::temp(const QString &relative) const {
    return relative.isEmpty() ? m_Root.filePath(QStringLiteral("temp"))
                              : m_Root.filePath(QStringLiteral("temp/") + relative);
}

bool Session::writeProductIni(const QString &section, const QMap<QString, QString> &lines) const {
    return writeIni(MakeDownloadReplaceListFunc::productIniPath(m_Configuration),
                    {{section, lines}});
}

QString Session::plainLine(const QByteArray &content) {
    return sha512Hex(content) + QStringLiteral("::") + QString::number(content.size());
}

ReplaceItem replaceItem(const QString &section, const QString &name, const QString &finalHash,
                        const QString &targetName, const QString &patchName) {
    ReplaceItem item;
    item.section = section;
    item.name = name;
    item.finalHash = finalHash;
    item.targetName = targetName;
    item.patchName = patchName;
    return item;
}

PipeGate::PipeGate(const QString &path, const QByteArray &content)
    : m_Path(path), m_Content(content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    // The content must fit into the pipe's buffer so that the write never
    // waits for the reader.
    m_Valid = content.size() < 4096 && ::mkfifo(path.toUtf8().constData(), 0600) == 0;
}

PipeGate::~PipeGate() {
    release();
}

bool PipeGate::release() {
    if (!m_Valid || m_Released) {
        return m_Released;
    }
    int fd = -1;
    // Opening the write end without blocking succeeds only once a reader
    // has the pipe open.
    const bool opened = QTest::qWaitFor(
        [&] {
            fd = ::open(m_Path.toUtf8().constData(), O_WRONLY | O_NONBLOCK);
            return fd >= 0;
        },
        kWaitMs);
    if (!opened) {
        return false;
    }
    const bool written = ::write(fd, m_Content.constData(), m_Content.size()) == m_Content.size();
    ::close(fd);
    m_Released = true;
    return written;
}

}  // namespace installfixture
