#include "processtools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QProcess>

#include "platform/bundlelauncher.h"

namespace {

constexpr unsigned kArgsFileMode = 0600;
constexpr unsigned kStarterScriptMode = 0700;

bool writeAll(int fd, const QByteArray &content) {
    const char *data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

}  // namespace

#ifdef Q_OS_MACOS

void startVxmClient_mac(const QString &installDir) {
    qDebug() << "startVxmClient_mac" << installDir;
    const QString program = QStringLiteral("/usr/bin/open");
    const QString bundle = installDir + QStringLiteral("../../Voxmere Client.app");
    qDebug() << "starting" << program << bundle;
    QProcess::startDetached(program, {bundle});
}

void startNewUpdater_mac(const QString &tempDir, const QStringList &args) {
    qDebug() << "startNewUpdater_mac" << tempDir << args;
    ProcessTools::writeArgsFile(args);
    const QString bundle = tempDir + QStringLiteral("/SharedSupport/update.app");
    const QString script = ProcessTools::writeStarterScript(QStringLiteral("open ") +
                                                            ProcessTools::escapeSpaces(bundle));
    if (script.isEmpty()) {
        qDebug() << "Failed to write temp update starter for second update step";
        return;
    }
    qDebug() << "starting" << script;
    // Deliberately never destroyed: ending the updater must not end the script.
    auto *process = new QProcess();
    process->start(script, QStringList());
}

#endif

void ProcessTools::startVxmClient(const QString &installDir) {
    qDebug() << "startVxmClient";
#ifdef Q_OS_MACOS
    startVxmClient_mac(installDir);
#else
    BundleLauncher::startVxmClient(installDir);
#endif
}

void ProcessTools::startClientUpdater(const QString &tempDir, const QStringList &args) {
    qDebug() << "startClientUpdater" << tempDir << args;
#ifdef Q_OS_MACOS
    startNewUpdater_mac(tempDir, args);
#else
    BundleLauncher::startNewUpdater(tempDir, args);
#endif
}

QString ProcessTools::argsFilePath() {
    return QDir::tempPath() + QStringLiteral("/vxmclientupdateargs");
}

QString ProcessTools::starterScriptPath() {
    return QDir::tempPath() + QStringLiteral("/update.sh");
}

bool ProcessTools::writeArgsFile(const QStringList &args) {
    QByteArray content;
    for (const QString &arg : args) {
        content += arg.toLatin1();
        content += '\n';
    }
    return writeFreshFile(argsFilePath(), content, kArgsFileMode);
}

QString ProcessTools::writeStarterScript(const QString &command) {
    const QString path = starterScriptPath();
    return writeFreshFile(path, command.toLatin1(), kStarterScriptMode) ? path : QString();
}

QString ProcessTools::escapeSpaces(const QString &path) {
    QString escaped = path;
    escaped.replace(QLatin1Char(' '), QStringLiteral("\\ "));
    return escaped;
}

bool ProcessTools::writeFreshFile(const QString &path, const QByteArray &content, unsigned mode) {
    const QByteArray native = QFile::encodeName(path);
    // unlink() removes a planted link itself, never what it points to; if
    // the entry cannot be removed, the exclusive create below fails.
    ::unlink(native.constData());
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          static_cast<mode_t>(mode));
    if (fd < 0) {
        qDebug() << "Cannot create" << path << ::strerror(errno);
        return false;
    }
    const bool ok = ::fchmod(fd, static_cast<mode_t>(mode)) == 0 && writeAll(fd, content);
    return ::close(fd) == 0 && ok;
}
