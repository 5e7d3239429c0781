// vxm-release as a maker runs it: exit statuses and messages for bad
// usage, keys and signatures checked by the updater's own signature check,
// the version server's answer read back by the version client, and builds
// that fail without leaving anything behind.
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "checksignaturetaskspecification.h"
#include "releasecodec.h"
#include "releasetestsupport.h"
#include "rsacrypt.h"
#include "versionquery.h"

namespace {

using releasetest::entriesOf;
using releasetest::runTool;
using releasetest::ToolRun;

}  // namespace

class TestReleaseTool : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { RsaCrypt::registerAlgorithms(); }
    void usage_data();
    void usage();
    void keysAndSignatures();
    void signaturesMatchTheUpdatersCheck_data();
    void signaturesMatchTheUpdatersCheck();
    void keygenKeepsExistingKeys();
    void versionsReadBackByTheVersionClient();
    void failedBuildLeavesNothing_data();
    void failedBuildLeavesNothing();
};

void TestReleaseTool::usage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("reason");
    const QStringList build = {"build", "--pass", "client", "--version", "2", "--new",
                               "n",     "--key",  "k",      "--out",     "o"};
    auto without = [&build](const QString &option) {
        QStringList args = build;
        const int at = args.indexOf(option);
        args.erase(args.begin() + at, args.begin() + at + 2);
        return args;
    };
    auto replaced = [&build](const QString &option, const QString &value) {
        QStringList args = build;
        args[args.indexOf(option) + 1] = value;
        return args;
    };
    QTest::newRow("nothing") << QStringList() << QString();
    QTest::newRow("unknown command") << QStringList{"publish"} << "unknown command publish";
    QTest::newRow("keygen without dir") << QStringList{"keygen"} << QString();
    QTest::newRow("sign without key") << QStringList{"sign", "f"} << QString();
    QTest::newRow("verify with extra") << QStringList{"verify", "f", "k", "x"} << QString();
    QTest::newRow("build without key") << without("--key") << "--key is required";
    QTest::newRow("build without pass") << without("--pass") << "--pass is required";
    QTest::newRow("bad pass") << replaced("--pass", "both") << "--pass must be client or updater";
    QTest::newRow("version 0") << replaced("--version", "0") << "positive number";
    QTest::newRow("version text") << replaced("--version", "2a") << "positive number";
    QTest::newRow("version overflow") << replaced("--version", "4294967297") << "positive number";
    QTest::newRow("unknown option")
        << QStringList(build) + QStringList{"--exe"} << "unknown option --exe";
    QTest::newRow("repeated option")
        << QStringList(build) + QStringList{"--out", "p"} << "--out given twice";
    QTest::newRow("value missing")
        << QStringList(build) + QStringList{"--old"} << "--old needs a value";
    QTest::newRow("empty command")
        << QStringList(build) + QStringList{"--preinstall", "::a"} << "needs a command name";
    QTest::newRow("versions without stable")
        << QStringList{"versions", "--out", "v", "beta=3:x"} << "stable=N:TEXT entry is required";
    QTest::newRow("versions without out")
        << QStringList{"versions", "stable=3:x"} << "--out is required";
    QTest::newRow("versions without text")
        << QStringList{"versions", "--out", "v", "stable=3:"} << "is not CHANNEL=N:TEXT";
    QTest::newRow("versions bad number")
        << QStringList{"versions", "--out", "v", "stable=-1:x"} << "is not CHANNEL=N:TEXT";
    QTest::newRow("versions unknown channel")
        << QStringList{"versions", "--out", "v", "stable=1:x", "nightly=2:y"}
        << "is not CHANNEL=N:TEXT";
    QTest::newRow("versions twice")
        << QStringList{"versions", "--out", "v", "stable=1:x", "stable=2:y"}
        << "channel stable given twice";
}

void TestReleaseTool::usage() {
    QFETCH(QStringList, args);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const ToolRun run = runTool(args, dir.path());
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(QStringLiteral("usage: vxm-release")), qPrintable(run.err));
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
    // Bad usage never writes anything.
    QVERIFY(entriesOf(dir.path()).isEmpty());
}

void TestReleaseTool::keysAndSignatures() {
    QTemporaryDir dir;
    const QString keys = dir.filePath("keys");
    ToolRun run = runTool({"keygen", keys});
    QCOMPARE(run.status, 0);
    const QString privateKey = keys + "/private.der";
    const QString publicKey = keys + "/public.der";
    QCOMPARE(QFileInfo(privateKey).size(), qint64(2048));
    QCOMPARE(QFileInfo(publicKey).size(), qint64(2048));
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(privateKey).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0600));

    const QString file = dir.filePath("payload.bin");
    QVERIFY(releasetest::writeFile(dir.path(), "payload.bin", releasetest::noise(5000, 1)));
    QCOMPARE(runTool({"sign", file, privateKey}).status, 0);
    QCOMPARE(QFileInfo(file + ".sig").size(), qint64(128));
    run = runTool({"verify", file, publicKey});
    QCOMPARE(run.status, 0);
    QVERIFY(run.out.contains("signature is valid"));

    run = runTool({"sign", file, publicKey});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("is a public key"), qPrintable(run.err));
    run = runTool({"sign", dir.filePath("absent"), privateKey});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("cannot read"), qPrintable(run.err));
    run = runTool({"verify", file, file});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("is not an RSA key file"), qPrintable(run.err));

    QByteArray tampered = releasetest::readFile(file);
    tampered[4000] = static_cast<char>(tampered.at(4000) ^ 1);
    QVERIFY(releasetest::writeFile(dir.path(), "payload.bin", tampered));
    run = runTool({"verify", file, publicKey});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("signature is not valid"), qPrintable(run.err));
}

void TestReleaseTool::signaturesMatchTheUpdatersCheck_data() {
    QTest::addColumn<bool>("demoKey");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("key built into the updater") << true << true;
    QTest::newRow("another key") << false << false;
}

void TestReleaseTool::signaturesMatchTheUpdatersCheck() {
    QFETCH(bool, demoKey);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    QString key = QStringLiteral(VXM_DEMO_PRIVATE_KEY);
    if (!demoKey) {
        QCOMPARE(runTool({"keygen", dir.filePath("k")}).status, 0);
        key = dir.filePath("k/private.der");
    }
    const QString file = dir.filePath("vxm_client_macosx.ini");
    QVERIFY(releasetest::writeFile(dir.path(), "vxm_client_macosx.ini", "[client]\na=b::1\n"));
    QCOMPARE(runTool({"sign", file, key}).status, 0);
    CheckSigFunc check(file, QString());
    QCOMPARE(check.run(), accepted);
}

void TestReleaseTool::keygenKeepsExistingKeys() {
    QTemporaryDir dir;
    QCOMPARE(runTool({"keygen", dir.path()}).status, 0);
    const QByteArray before = releasetest::readFile(dir.filePath("private.der"));
    const ToolRun run = runTool({"keygen", dir.path()});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("not overwriting"), qPrintable(run.err));
    QCOMPARE(releasetest::readFile(dir.filePath("private.der")), before);
}

void TestReleaseTool::versionsReadBackByTheVersionClient() {
    QTemporaryDir dir;
    const QString out = dir.filePath("vxm-client-2");
    const ToolRun run =
        runTool({"versions", "--out", out, "stable=100:3.1.0", "beta=101:3.1.1: rc"});
    QCOMPARE(run.status, 0);
    const QByteArray body = releasetest::readFile(out);
    VersionInfo info;
    QCOMPARE(parseVersions(reinterpret_cast<const unsigned char *>(body.constData()),
                           static_cast<unsigned>(body.size()), &info),
             int(kParseVersionsOk));
    QCOMPARE(info.channelNames, (std::vector<std::string>{"stable", "beta"}));
    QCOMPARE(versionNumberOf(info, "stable"), 100);
    QCOMPARE(versionStringOf(info, "stable"), std::string("3.1.0"));
    QCOMPARE(versionNumberOf(info, "beta"), 101);
    QCOMPARE(versionStringOf(info, "beta"), std::string("3.1.1: rc"));
    QCOMPARE(versionNumberOf(info, "alpha"), 0);
}

void TestReleaseTool::failedBuildLeavesNothing_data() {
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing new tree") << "missing tree"
                                      << "is not a readable directory";
    QTest::newRow("public key") << "public key"
                                << "is a public key";
    QTest::newRow("not a key") << "garbage key"
                               << "is not an RSA key file";
    QTest::newRow("symlink in old tree") << "symlink"
                                         << "symbolic links cannot be published";
}

void TestReleaseTool::failedBuildLeavesNothing() {
    QFETCH(QString, problem);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString newTree = dir.filePath("new");
    const QString oldTree = dir.filePath("old");
    const QString root = dir.filePath("root");
    QVERIFY(releasetest::writeFile(newTree, "MacOS/vxmclient_mac", "new"));
    QVERIFY(releasetest::writeFile(oldTree, "MacOS/vxmclient_mac", "old"));
    QVERIFY(releasetest::writeFile(root, "2/client/keep.txt", "published before"));
    QString key = QStringLiteral(VXM_DEMO_PRIVATE_KEY);
    QString newArg = newTree;
    if (problem == QLatin1String("missing tree")) {
        newArg = dir.filePath("absent");
    } else if (problem == QLatin1String("public key")) {
        key = QStringLiteral(VXM_DEMO_PUBLIC_KEY);
    } else if (problem == QLatin1String("garbage key")) {
        key = newTree + "/MacOS/vxmclient_mac";
    } else {
        QVERIFY(QFile::link(oldTree + "/MacOS/vxmclient_mac", oldTree + "/MacOS/link"));
    }
    const ToolRun run = runTool({"build", "--pass", "client", "--version", "2", "--new", newArg,
                                 "--old", oldTree, "--key", key, "--out", root});
    QCOMPARE(run.status, 1);
    const QString expected =
        ReleaseCodec::available() ? reason : QStringLiteral("no compressed file container");
    QVERIFY2(run.err.contains(expected), qPrintable(run.err));
    QCOMPARE(entriesOf(root), QStringList{"2"});
    QCOMPARE(entriesOf(root + "/2"), QStringList{"client"});
    QCOMPARE(releasetest::readFile(root + "/2/client/keep.txt"), QByteArray("published before"));
}

QTEST_GUILESS_MAIN(TestReleaseTool)
#include "tst_releasetool.moc"
