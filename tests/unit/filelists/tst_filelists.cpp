// The list step on real product inis, installations and downloads in a
// temporary directory, with real SHA-512 hashes, run as a task on the real
// event loop and thread pool.
//
// Table texts may hold tokens: {sha:TEXT} (SHA-512 of TEXT, lower case),
// {SHA:TEXT} (upper case), {install} (the installation directory). Expected
// list entries are written as "D:section|name|hash|size" (download),
// "R:section|name|finalHash|finalSize|targetName|patchName" (replace),
// "X:name|recursive" (delete), "PRE:name|arg,arg|required" and "POST:...".
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopedPointer>
#include <QTemporaryDir>
#include <QtTest>

#include "configuration.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "rsacrypt.h"
#include "updatefilelists.h"

namespace {

const QString kCompilingClient = QStringLiteral("Compiling download and replace list for client");
const QString kCompilingUpdater = QStringLiteral("Compiling download and replace list for updater");

QString warningFor(const QString &section) {
    return QStringLiteral("Warning: product ini contains invalid line in section %1").arg(section);
}

QString sha512Of(const QString &text) {
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha512).toHex());
}

QString text(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString describe(const DownloadItem &item) {
    return QStringLiteral("D:%1|%2|%3|%4").arg(item.section, item.name, item.hash).arg(item.size);
}

QString describe(const ReplaceItem &item) {
    return QStringLiteral("R:%1|%2|%3|%4|%5|%6")
        .arg(item.section, item.name, item.finalHash)
        .arg(item.finalSize)
        .arg(item.targetName, item.patchName);
}

QString describe(const DeleteItem &item) {
    return QStringLiteral("X:%1|%2").arg(item.name, text(item.recursive));
}

QString describe(const InstallCommand &item, const char *list) {
    return QStringLiteral("%1:%2|%3|%4")
        .arg(QLatin1String(list), item.name, item.args.join(QLatin1Char(',')), text(item.required));
}

QStringList describeAll(const UpdateFileLists &lists) {
    QStringList all;
    for (const DownloadItem &item : lists.downloadList) {
        all << describe(item);
    }
    for (const ReplaceItem &item : lists.replaceList) {
        all << describe(item);
    }
    for (const DeleteItem &item : lists.deleteList) {
        all << describe(item);
    }
    for (const InstallCommand &item : lists.preInstallList) {
        all << describe(item, "PRE");
    }
    for (const InstallCommand &item : lists.postInstallList) {
        all << describe(item, "POST");
    }
    return all;
}

}  // namespace

class TestFileLists : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void targetPath_data();
    void targetPath();

    void workedExample();
    void fileRule_data();
    void fileRule();
    void deleteRule_data();
    void deleteRule();
    void commandRule_data();
    void commandRule();
    void failures_data();
    void failures();
    void unsafeNames_data();
    void unsafeNames();
    void currentFileMode_data();
    void currentFileMode();

private:
    QString expand(QString text) const;
    QStringList expand(const QStringList &texts) const;
    // Writes "path=content" entries under dir; "path/" makes a directory.
    void writeFiles(const QString &dir, const QStringList &entries);
    void writeProductIni(const QString &text);
    // Runs the list step as a task; its outcome, messages and progress are kept.
    void runListStep();

    QScopedPointer<QTemporaryDir> m_Root;
    Configuration m_Config;
    UpdateFileLists m_Destination;
    int m_State = Idle;
    QStringList m_Messages;
    QList<double> m_Progress;
};

void TestFileLists::initTestCase() {
    RsaCrypt::registerAlgorithms();
}

void TestFileLists::init() {
    m_Root.reset(new QTemporaryDir);
    QVERIFY(m_Root->isValid());
    QVERIFY(QDir().mkpath(m_Root->filePath(QStringLiteral("install/Contents"))));
    QVERIFY(QDir().mkpath(m_Root->filePath(QStringLiteral("temp"))));
    m_Config.m_IsClientUpdate = 1;
    m_Config.m_InstallDir = m_Root->filePath(QStringLiteral("install/Contents")) + QLatin1Char('/');
    m_Config.m_TempDir = m_Root->filePath(QStringLiteral("temp"));
    m_Destination.clear();
    m_Messages.clear();
    m_Progress.clear();
}

QString TestFileLists::expand(QString text) const {
    static const QRegularExpression kToken(QStringLiteral("\\{(sha|SHA):([^}]*)\\}"));
    for (QRegularExpressionMatch m = kToken.match(text); m.hasMatch(); m = kToken.match(text)) {
        const QString hash = sha512Of(m.captured(2));
        text.replace(m.capturedStart(), m.capturedLength(),
                     m.captured(1) == QLatin1String("SHA") ? hash.toUpper() : hash);
    }
    return text.replace(QStringLiteral("{install}"), m_Config.m_InstallDir);
}

QStringList TestFileLists::expand(const QStringList &texts) const {
    QStringList expanded;
    for (const QString &text : texts) {
        expanded << expand(text);
    }
    return expanded;
}

void TestFileLists::writeFiles(const QString &dir, const QStringList &entries) {
    for (const QString &entry : entries) {
        const QString path = dir + QLatin1Char('/') + entry.section(QLatin1Char('='), 0, 0);
        if (path.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir().mkpath(path));
            continue;
        }
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
        file.write(entry.section(QLatin1Char('='), 1).toUtf8());
    }
}

void TestFileLists::writeProductIni(const QString &text) {
    QFile file(MakeDownloadReplaceListFunc::productIniPath(m_Config));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(expand(text).toUtf8());
}

void TestFileLists::runListStep() {
    MakeDownloadReplaceListTaskSpecification task(&m_Config, &m_Destination, nullptr, 0.05);
    connect(&task, &TaskSpecification::message, this,
            [this](const QString &message) { m_Messages << message; });
    connect(&task, &TaskSpecification::updateProgress, this,
            [this](double doneFrac) { m_Progress << doneFrac; });
    task.execute();
    QTRY_VERIFY_WITH_TIMEOUT(task.state() != Running, 30000);
    m_State = task.state();
}

void TestFileLists::targetPath_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("targetName");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name") << "client"
                          << "a/b"
                          << ""
                          << ""
                          << "a/b";
    QTest::newRow("target name wins") << "client"
                                      << "a/b._lzma2_"
                                      << "a/b"
                                      << ""
                                      << "a/b";
    QTest::newRow("prefix keeps the directory") << "client"
                                                << "a/b"
                                                << ""
                                                << "x"
                                                << "a/xb";
    QTest::newRow("prefix without directory") << "client"
                                              << "b"
                                              << ""
                                              << "x"
                                              << "xb";
    QTest::newRow("prefix on target name") << "client"
                                           << "n"
                                           << "c/d/t"
                                           << "x"
                                           << "c/d/xt";
    QTest::newRow("common_client") << "common_client"
                                   << "a/b"
                                   << ""
                                   << ""
                                   << "SharedSupport/a/b";
    QTest::newRow("common_client with prefix") << "common_client"
                                               << "b"
                                               << ""
                                               << "x"
                                               << "SharedSupport/xb";
}

void TestFileLists::targetPath() {
    QFETCH(QString, section);
    QFETCH(QString, name);
    QFETCH(QString, targetName);
    QFETCH(QString, prefix);
    QFETCH(QString, expected);
    ReplaceItem item;
    item.section = section;
    item.name = name;
    item.targetName = targetName;
    QCOMPARE(item.targetPath(prefix), expected);
}

void TestFileLists::workedExample() {
    const QString fixture = QStringLiteral(VXM_FIXTURE_DIR "/worked_example");
    for (const char *file : {"bin/app", "readme.txt", "old/lib.dylib"}) {
        const QString to = m_Config.m_InstallDir + QLatin1String(file);
        QVERIFY(QDir().mkpath(QFileInfo(to).absolutePath()));
        QVERIFY(QFile::copy(fixture + "/install/" + QLatin1String(file), to));
    }
    QVERIFY(QFile::copy(fixture + "/vxm_client_macosx.ini",
                        MakeDownloadReplaceListFunc::productIniPath(m_Config)));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Found patch for \"bin/app._lzma2_\""));
    QTest::ignoreMessage(QtDebugMsg,
                         QRegularExpression("^Queueing download: \"bin/app._lzma2_\"$"));

    runListStep();
    QCOMPARE(m_State, int(Finished));
    QCOMPARE(m_Messages, QStringList{kCompilingClient});
    const QString h2 = sha512Of("app 2.0\n");
    const QString h3 = sha512Of("patch 1.0 to 2.0\n");
    QCOMPARE(describeAll(m_Destination),
             QStringList({"D:client|bin/app.7_patch_|" + h3 + "|200",
                          "R:client|bin/app._lzma2_|" + h2 + "|3000|bin/app|bin/app.7_patch_",
                          "X:old/lib.dylib|false",
                          "POST:tool|mode=quiet,dir=" + m_Config.m_InstallDir + "|false"}));
    // Five keys in all; only the two file lines and the delete line advance,
    // so the worker's last report is 3/5 before the task's own end.
    QCOMPARE(m_Progress.size(), 4);
    QCOMPARE(m_Progress.at(2), 0.6 * 0.05);
    QCOMPARE(m_Progress.last(), 0.05);
}

void TestFileLists::fileRule_data() {
    QTest::addColumn<int>("pass");
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QStringList>("downloaded");
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("warnings");
    // "path=content" that must be in the temporary directory afterwards;
    // "!path" that must not.
    QTest::addColumn<QStringList>("tempAfter");

    const QString lzma = "bin/app._lzma2_={sha:z}::10::{sha:app2}::20::bin/app\n";
    const QString threePatches =
        "bin/app.1_patch_={sha:p1}::5::{sha:app1}::18::bin/app\n"
        "bin/app.2_patch_={sha:p2}::6::{sha:app2old}::18::bin/app\n"
        "bin/app.3_patch_={sha:p3}::7::{sha:app3}::18::bin/app\n";
    const QString wholeApp = "D:client|bin/app._lzma2_|{sha:z}|10";
    const QString replaceApp = "R:client|bin/app._lzma2_|{sha:app2}|20|bin/app|";
    const QStringList none;

    QTest::newRow("installed file has the final hash")
        << 1 << QStringList{"bin/app=app2"} << none << "[client]\n" + lzma + threePatches << none
        << none << QStringList{"!bin/app"};
    QTest::newRow("installed file matches none of three patches")
        << 1 << QStringList{"bin/app=app0"} << none << "[client]\n" + lzma + threePatches
        << QStringList{wholeApp, replaceApp} << none << none;
    QTest::newRow("second of three patches matches")
        << 1 << QStringList{"bin/app=app2old"} << none << "[client]\n" + lzma + threePatches
        << QStringList{"D:client|bin/app.2_patch_|{sha:p2}|6", replaceApp + "bin/app.2_patch_"}
        << none << none;
    QTest::newRow("two patches match: the later key is tried first")
        << 1 << QStringList{"bin/app=app1"} << none
        << "[client]\n" + lzma +
               "bin/app.1_patch_={sha:p1}::5::{sha:app1}::18::bin/app\n"
               "bin/app.9_patch_={sha:p9}::9::{sha:app1}::18::bin/app\n"
        << QStringList{"D:client|bin/app.9_patch_|{sha:p9}|9", replaceApp + "bin/app.9_patch_"}
        << none << none;
    QTest::newRow("not installed: whole download although patches exist")
        << 1 << none << none << "[client]\n" + lzma + threePatches
        << QStringList{wholeApp, replaceApp} << none << none;
    QTest::newRow("download already present with the right hash")
        << 1 << none << QStringList{"bin/app._lzma2_=z"} << "[client]\n" + lzma
        << QStringList{replaceApp} << none << none;
    QTest::newRow("download present with other content")
        << 1 << none << QStringList{"bin/app._lzma2_=truncated"} << "[client]\n" + lzma
        << QStringList{wholeApp, replaceApp} << none << none;
    QTest::newRow("chosen patch already downloaded")
        << 1 << QStringList{"bin/app=app1"} << QStringList{"bin/app.1_patch_=p1"}
        << "[client]\n" + lzma + threePatches << QStringList{replaceApp + "bin/app.1_patch_"}
        << none << none;
    QTest::newRow("two-part line, installed file matches part 1")
        << 1 << QStringList{"readme.txt=r"} << none << "[client]\nreadme.txt={sha:r}::1\n"
        << none << none << none;
    QTest::newRow("two-part line, hash in upper case")
        << 1 << QStringList{"readme.txt=r"} << none << "[client]\nreadme.txt={SHA:r}::1\n"
        << none << none << none;
    QTest::newRow("two-part line, installed file differs")
        << 1 << QStringList{"readme.txt=old"} << none << "[client]\nreadme.txt={sha:r}::1\n"
        << QStringList{"D:client|readme.txt|{sha:r}|1", "R:client|readme.txt||0||"} << none << none;
    QTest::newRow("installed path is a directory: never matches")
        << 1 << QStringList{"readme.txt/"} << none << "[client]\nreadme.txt={sha:r}::1\n"
        << QStringList{"D:client|readme.txt|{sha:r}|1", "R:client|readme.txt||0||"} << none << none;
    QTest::newRow("empty download hash: the RSA check decides, no signature")
        << 1 << QStringList{"readme.txt=r"} << none << "[client]\nreadme.txt=::1\n"
        << QStringList{"D:client|readme.txt||1", "R:client|readme.txt||0||"} << none << none;
    QTest::newRow("three-part file line skipped, the run goes on")
        << 1 << none << none << "[client]\nbad.txt=a::1::b\nreadme.txt={sha:r}::1\n"
        << QStringList{"D:client|readme.txt|{sha:r}|1", "R:client|readme.txt||0||"}
        << QStringList{"client"} << none;
    QTest::newRow("dots inside names are not a .. component")
        << 1 << none << none << "[client]\nv1..2/a..b.txt={sha:r}::1\n"
        << QStringList{"D:client|v1..2/a..b.txt|{sha:r}|1", "R:client|v1..2/a..b.txt||0||"} << none
        << none;
    QTest::newRow("common_client is looked up under SharedSupport/")
        << 1 << QStringList{"SharedSupport/lib.txt=l"} << none
        << "[common_client]\nlib.txt={sha:l}::1\n"
        << none << none << none;
    QTest::newRow("common_client file outside SharedSupport/ is not the installed one")
        << 1 << QStringList{"lib.txt=l"} << none << "[common_client]\nlib.txt={sha:l}::1\n"
        << QStringList{"D:common_client|lib.txt|{sha:l}|1", "R:common_client|lib.txt||0||"} << none
        << none;
    QTest::newRow("updater pass copies current files into the temporary tree")
        << 0 << QStringList{"MacOS/update=u1", "bin/app=app2"} << none
        << "[update]\nMacOS/update={sha:u1}::2\n" + lzma << none << none
        << QStringList{"MacOS/update=u1", "bin/app=app2", "!bin/app._lzma2_"};
    QTest::newRow("updater pass copies common_client files under SharedSupport/")
        << 0 << QStringList{"SharedSupport/lib.txt=l"} << none
        << "[common_client]\nlib.txt={sha:l}::1\n"
        << none << none << QStringList{"SharedSupport/lib.txt=l", "!lib.txt"};
}

void TestFileLists::fileRule() {
    QFETCH(int, pass);
    QFETCH(QStringList, installed);
    QFETCH(QStringList, downloaded);
    QFETCH(QString, ini);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, warnings);
    QFETCH(QStringList, tempAfter);

    m_Config.m_IsClientUpdate = pass;
    writeFiles(m_Config.m_InstallDir, installed);
    writeFiles(m_Config.m_TempDir, downloaded);
    writeProductIni(ini);
    runListStep();

    QCOMPARE(m_State, int(Finished));
    QStringList messages{pass == 1 ? kCompilingClient : kCompilingUpdater};
    for (const QString &section : warnings) {
        messages << warningFor(section);
    }
    QCOMPARE(m_Messages, messages);
    QCOMPARE(describeAll(m_Destination), expand(expected));
    for (const QString &entry : tempAfter) {
        const QString path = m_Config.m_TempDir + QLatin1Char('/') + entry.section('=', 0, 0);
        if (entry.startsWith(QLatin1Char('!'))) {
            QVERIFY2(!QFileInfo::exists(m_Config.m_TempDir + '/' + entry.mid(1)),
                     qPrintable(entry));
            continue;
        }
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
        QCOMPARE(QString::fromUtf8(file.readAll()), entry.section('=', 1));
    }
}

void TestFileLists::deleteRule_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QStringList>("expected");
    const QStringList none;
    const QStringList plain{"X:old/lib.dylib|false"};
    for (const char *code : {"0", "1", "9", "11"}) {
        QTest::newRow(code) << code << "old/lib.dylib=x" << plain;
    }
    QTest::newRow("2 is recursive") << "2"
                                    << "old/lib.dylib=x" << QStringList{"X:old/lib.dylib|true"};
    QTest::newRow("2 on a directory") << "2"
                                      << "old/lib.dylib/" << QStringList{"X:old/lib.dylib|true"};
    QTest::newRow("10 is ignored") << "10"
                                   << "old/lib.dylib=x" << none;
    QTest::newRow("12 is ignored") << "12"
                                   << "old/lib.dylib=x" << none;
    QTest::newRow("100 is ignored") << "100"
                                    << "old/lib.dylib=x" << none;
    QTest::newRow("missing file") << "1"
                                  << "other=x" << none;
}

void TestFileLists::deleteRule() {
    QFETCH(QString, code);
    QFETCH(QString, installed);
    QFETCH(QStringList, expected);
    writeFiles(m_Config.m_InstallDir, {installed});
    writeProductIni("[delete]\nold/lib.dylib=" + code + "\n");
    runListStep();
    QCOMPARE(m_State, int(Finished));
    QCOMPARE(describeAll(m_Destination), expected);
}

void TestFileLists::commandRule_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("linux64::mac::MAC: one entry per mac element")
        << "postinstall"
        << "linux64::mac::MAC" << QStringList{"POST:tool||true", "POST:tool||true"};
    QTest::newRow("only a platform list: no arguments, required")
        << "preinstall"
        << "mac" << QStringList{"PRE:tool||true"};
    QTest::newRow("__VXM_DIR__ replaced, optional")
        << "preinstall"
        << "mac::win64, mode=quiet::dir=__VXM_DIR__, optional"
        << QStringList{"PRE:tool|mode=quiet,dir={install}|false"};
    QTest::newRow("every occurrence replaced")
        << "postinstall"
        << "Mac, __VXM_DIR__a__VXM_DIR__::b" << QStringList{"POST:tool|{install}a{install},b|true"};
    QTest::newRow("a requirement other than optional is required")
        << "postinstall"
        << "mac, -x, Optional" << QStringList{"POST:tool|-x|true"};
    QTest::newRow("other platforms only") << "postinstall"
                                          << "win32::win64::linux32::linux64, -x" << QStringList();
    QTest::newRow("unknown platform names are ignored") << "postinstall"
                                                        << "macos::darwin" << QStringList();
}

void TestFileLists::commandRule() {
    QFETCH(QString, section);
    QFETCH(QString, value);
    QFETCH(QStringList, expected);
    writeProductIni("[" + section + "]\ntool=" + value + "\n");
    runListStep();
    QCOMPARE(m_State, int(Finished));
    QCOMPARE(m_Messages, QStringList{kCompilingClient});
    QCOMPARE(describeAll(m_Destination), expand(expected));
}

void TestFileLists::failures_data() {
    QTest::addColumn<bool>("writeIni");
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("message");
    QTest::newRow("patch line with four parts")
        << true << "[client]\nreadme.txt={sha:r}::1\nbin/app.1_patch_=a::1::b::2\n"
        << warningFor("client");
    QTest::newRow("patch line with six parts in a later section")
        << true << "[client]\nreadme.txt={sha:r}::1\n[delete]\nold_patch_=a::1::b::2::c::d\nold=1\n"
        << warningFor("delete");
    QTest::newRow("missing product ini") << false << ""
                                         << "No files in product ini";
    QTest::newRow("empty product ini") << true << ""
                                       << "No files in product ini";
    QTest::newRow("keys outside any section only")
        << true << "readme.txt={sha:r}::1\n[General]\nx=1\n"
        << "No files in product ini";
}

void TestFileLists::failures() {
    QFETCH(bool, writeIni);
    QFETCH(QString, ini);
    QFETCH(QString, message);
    if (writeIni) {
        writeProductIni(ini);
    }
    // What an earlier successful run published must stay untouched.
    m_Destination.deleteList << DeleteItem{"earlier", true};
    m_Destination.downloadList << DownloadItem{"client", "earlier", "h", 1};
    runListStep();
    QCOMPARE(m_State, int(Failed));
    QCOMPARE(m_Messages, QStringList({kCompilingClient, message}));
    QCOMPARE(describeAll(m_Destination), QStringList({"D:client|earlier|h|1", "X:earlier|true"}));
}

void TestFileLists::unsafeNames_data() {
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("warningSection");
    QTest::addColumn<QStringList>("expected");
    // Each row also lists readme.txt, which is valid and must still be queued.
    const QStringList readme{"D:client|readme.txt|{sha:r}|1", "R:client|readme.txt||0||"};
    const QString valid = "[client]\nreadme.txt={sha:r}::1\n";
    const QStringList readmeAndApp{"D:client|bin/app._lzma2_|{sha:z}|10", readme.at(0),
                                   "R:client|bin/app._lzma2_|{sha:app2}|20|bin/app|", readme.at(1)};
    QTest::newRow("file key climbing out") << valid + "../outside.txt={sha:o}::1\n"
                                           << "client" << readme;
    QTest::newRow("file key climbing out, backslash form")
        << valid + "sub\\..\\..\\outside.txt={sha:o}::1\n"
        << "client" << readme;
    QTest::newRow("absolute target name")
        << valid + "x._lzma2_={sha:z}::1::{sha:o}::1::/etc/passwd\n"
        << "client" << readme;
    QTest::newRow("target name with a .. component")
        << valid + "x._lzma2_={sha:z}::1::{sha:o}::1::a/../../outside.txt\n"
        << "client" << readme;
    QTest::newRow("patch key climbing out: the patch is not used")
        << valid +
               "bin/app._lzma2_={sha:z}::10::{sha:app2}::20::bin/app\n"
               "../p_patch_={sha:p}::5::{sha:app1}::18::bin/app\n"
        << "client" << readmeAndApp;
    QTest::newRow("patch with an absolute target name")
        << valid +
               "bin/app._lzma2_={sha:z}::10::{sha:app2}::20::bin/app\n"
               "bin/app.1_patch_={sha:p}::5::{sha:app1}::18::/abs/bin/app\n"
        << "client" << readmeAndApp;
    QTest::newRow("delete key climbing out") << valid + "[delete]\n../outside.txt=1\n"
                                             << "delete" << readme;
    QTest::newRow("post-install command outside the temporary directory")
        << valid + "[postinstall]\n../../bin/tool=mac\n"
        << "postinstall" << readme;
    QTest::newRow("pre-install command outside the temporary directory")
        << valid + "[preinstall]\nsub/../../tool=mac\n"
        << "preinstall" << readme;
}

void TestFileLists::unsafeNames() {
    QFETCH(QString, ini);
    QFETCH(QString, warningSection);
    QFETCH(QStringList, expected);
    // The files the lines point at exist, so nothing but the name check keeps
    // them out of the lists.
    writeFiles(m_Root->filePath(QStringLiteral("install")), {"outside.txt=o"});
    writeFiles(m_Config.m_InstallDir, {"bin/app=app1"});
    writeProductIni(ini);
    runListStep();
    QCOMPARE(m_State, int(Finished));
    QCOMPARE(m_Messages, QStringList({kCompilingClient, warningFor(warningSection)}));
    QCOMPARE(describeAll(m_Destination), expand(expected));
}

QTEST_GUILESS_MAIN(TestFileLists)
#include "tst_filelists.moc"

// An installed file that is already current keeps its content; on the
// client pass an executable among them gets its mode back (a run that ended
// between writing and marking it left it without), other files keep theirs.
void TestFileLists::currentFileMode_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("executable");
    QTest::newRow("the client") << QStringLiteral("MacOS/vxmclient_mac") << true;
    QTest::newRow("a library") << QStringLiteral("Frameworks/libvox.dylib") << true;
    QTest::newRow("a resource") << QStringLiteral("Resources/strings.txt") << false;
}

void TestFileLists::currentFileMode() {
    QFETCH(QString, name);
    QFETCH(bool, executable);
    writeFiles(m_Config.m_InstallDir, {name + QStringLiteral("=content 2\n")});
    const QString installed = m_Config.m_InstallDir + name;
    QVERIFY(QFile::setPermissions(installed, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    writeProductIni(QStringLiteral("[client]\n") + name +
                    QStringLiteral("._lzma2_={sha:x}::10::{sha:content 2\n}::10::") + name +
                    QLatin1Char('\n'));

    runListStep();
    QCOMPARE(m_State, int(Finished));
    QCOMPARE(describeAll(m_Destination), QStringList());
    QCOMPARE(QFileInfo(installed).isExecutable(), executable);
    QVERIFY(QFileInfo(installed).isWritable());
}
