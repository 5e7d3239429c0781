#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QtTest>

#include "enginetestsupport.h"
#include "platform/bundlelauncher.h"
#include "processtools.h"

namespace {

enum Planted { Nothing, OldFile, LinkToVictim, DanglingLink };

mode_t modeOf(const QString &path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

/// Places the marker program as `executable`; it records its start in the
/// returned marker file.
QString installMarker(const QString &executable) {
    QDir().mkpath(QFileInfo(executable).absolutePath());
    if (!QFile::copy(QStringLiteral(VXM_START_MARKER), executable)) {
        return QString();
    }
    QString marker = QDir::tempPath() + QStringLiteral("/started.txt");
    QFile::remove(marker);
    qputenv("VXM_MARKER_FILE", QFile::encodeName(marker));
    return marker;
}

}  // namespace

Q_DECLARE_METATYPE(Planted)

class ProcessToolsTest : public QObject {
    Q_OBJECT

private slots:
    void escapeSpaces_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("escaped");
        QTest::newRow("no space") << "/tmp/a/update"
                                  << "/tmp/a/update";
        QTest::newRow("spaces") << "/tmp/voxmere temp 1/x y"
                                << "/tmp/voxmere\\ temp\\ 1/x\\ y";
        QTest::newRow("other characters stay") << "/tmp/a'b$c"
                                               << "/tmp/a'b$c";
    }
    void escapeSpaces() {
        QFETCH(QString, path);
        QTEST(ProcessTools::escapeSpaces(path), "escaped");
    }

    void starterScriptIsCreatedFresh_data() {
        QTest::addColumn<Planted>("planted");
        QTest::addColumn<int>("umask");
        QTest::newRow("no earlier script") << Nothing << 022;
        QTest::newRow("earlier script, open umask") << OldFile << 0;
        QTest::newRow("link to another file") << LinkToVictim << 022;
        QTest::newRow("dangling link") << DanglingLink << 077;
    }
    void starterScriptIsCreatedFresh() {
        QFETCH(Planted, planted);
        QFETCH(int, umask);
        const QString script = ProcessTools::starterScriptPath();
        const QString victim = QDir::tempPath() + QStringLiteral("/victim");
        QFile::remove(script);
        QVERIFY(writeFile(victim, "keep me"));
        if (planted == OldFile) {
            QVERIFY(writeFile(script, "an older and much longer starter line\n"));
            QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ReadOther | QFileDevice::WriteOther);
        } else if (planted == LinkToVictim) {
            QVERIFY(QFile::link(victim, script));
        } else if (planted == DanglingLink) {
            QVERIFY(QFile::link(victim + QStringLiteral(".missing"), script));
        }

        const mode_t previous = ::umask(static_cast<mode_t>(umask));
        const QString written = ProcessTools::writeStarterScript(QStringLiteral("/a\\ b/update"));
        ::umask(previous);

        QCOMPARE(written, script);
        QVERIFY(!QFileInfo(script).isSymLink());
        QCOMPARE(readFile(script), QByteArray("/a\\ b/update"));
        QCOMPARE(modeOf(script), mode_t(0700));
        QCOMPARE(readFile(victim), QByteArray("keep me"));
        QVERIFY(!QFileInfo::exists(victim + QStringLiteral(".missing")));
    }

    void starterScriptNotWritable() {
        // A directory in the script's place cannot be unlinked as a file.
        const QString script = ProcessTools::starterScriptPath();
        QFile::remove(script);
        QVERIFY(QDir().mkpath(script));
        QCOMPARE(ProcessTools::writeStarterScript(QStringLiteral("x")), QString());
        QVERIFY(QDir().rmdir(script));
    }

    void argumentFileIsReplacedCompletely() {
        QVERIFY(
            writeFile(ProcessTools::argsFilePath(), "--nouser\nupdate_macosx\n1\n2\n3\n4\n5\n"));
        QVERIFY(ProcessTools::writeArgsFile({QStringLiteral("--clientupdate"),
                                             QStringLiteral("client_macosx"), QStringLiteral("77"),
                                             QStringLiteral("#")}));
        QCOMPARE(readFile(ProcessTools::argsFilePath()),
                 QByteArray("--clientupdate\nclient_macosx\n77\n#\n"));
    }

    void bundleExecutable_data() {
        QTest::addColumn<QString>("bundle");
        QTest::addColumn<QString>("executable");
        QTest::newRow("client") << "/x/Voxmere Client.app"
                                << "/x/Voxmere Client.app/Contents/MacOS/vxmclient_mac";
        QTest::newRow("updater") << "/t/SharedSupport/update.app"
                                 << "/t/SharedSupport/update.app/Contents/MacOS/update";
    }
    void bundleExecutable() {
        QFETCH(QString, bundle);
        QTEST(BundleLauncher::bundleExecutable(bundle), "executable");
    }

    void startsTheClientDetached() {
        const QString bundle =
            QDir::tempPath() + QStringLiteral("/Applications/Voxmere Client.app");
        const QString marker =
            installMarker(bundle + QStringLiteral("/Contents/MacOS/vxmclient_mac"));
        QVERIFY(!marker.isEmpty());
        ProcessTools::startVxmClient(bundle + QStringLiteral("/Contents/"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(marker), 15000);
        const QStringList lines = QString::fromLocal8Bit(readFile(marker)).split('\n');
        QCOMPARE(QFileInfo(lines.first()).canonicalFilePath(),
                 QFileInfo(bundle + QStringLiteral("/Contents/MacOS/vxmclient_mac"))
                     .canonicalFilePath());
        QCOMPARE(lines.size(), 2);  // no arguments, then the final line break
    }

    void startsTheNewUpdaterThroughTheScript() {
        const QString tempDir = QDir::tempPath() + QStringLiteral("/voxmere temp 1");
        const QString executable =
            tempDir + QStringLiteral("/SharedSupport/update.app/Contents/MacOS/update");
        const QString marker = installMarker(executable);
        QVERIFY(!marker.isEmpty());
        QVERIFY(writeFile(ProcessTools::starterScriptPath(), "echo planted\n"));

        ProcessTools::startClientUpdater(
            tempDir, {QStringLiteral("--clientupdate"), QStringLiteral("client_macosx"),
                      QStringLiteral("8"), QStringLiteral("2.0 beta")});

        QCOMPARE(readFile(ProcessTools::starterScriptPath()),
                 ProcessTools::escapeSpaces(executable).toLatin1());
        QCOMPARE(modeOf(ProcessTools::starterScriptPath()), mode_t(0700));
        QCOMPARE(readFile(ProcessTools::argsFilePath()),
                 QByteArray("--clientupdate\nclient_macosx\n8\n2.0 beta\n"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(marker), 15000);
        QCOMPARE(QString::fromLocal8Bit(readFile(marker)).split('\n').first(), executable);
    }
};

QTEST_MAIN(ProcessToolsTest)
#include "tst_processtools.moc"
