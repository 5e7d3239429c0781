// A release made by vxm-release, served by the in-process HTTP server and
// installed by the updater's own client pass (product ini, lists,
// downloads, replacement, deletions): the old tree becomes the new one
// byte for byte, an unchanged file is never fetched, a changed library is
// patched instead of fetched whole, and a served file
// that was changed after the build is refused at install.
#include <QDirIterator>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "configuration.h"
#include "maintaskspecification.h"
#include "releasetestsupport.h"
#include "rsacrypt.h"
#include "testhttpserver.h"

namespace {

using releasetest::kBasePath;
using releasetest::serveTree;

}  // namespace

class TestReleasePipeline : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { Configuration::overrideUpdaterBaseDir(QString()); }
    void oldTreeBecomesNewTree();
    void tamperedFileIsRefusedAtInstall();

private:
    /// Runs the client pass against the served root; the main task's end state.
    int runClientPass(QStringList *messages);

    QScopedPointer<QTemporaryDir> m_Dir;
    QString m_Old;
    QString m_New;
    QString m_Root;
    QString m_Install;
    QString m_Temp;
    vxmtest::TestHttpServer m_Server;
};

void TestReleasePipeline::initTestCase() {
    RsaCrypt::registerAlgorithms();
    QVERIFY(m_Server.start());
}

void TestReleasePipeline::init() {
    m_Dir.reset(new QTemporaryDir);
    m_Old = m_Dir->filePath("old");
    m_New = m_Dir->filePath("new");
    m_Root = m_Dir->filePath("root");
    m_Install = m_Dir->filePath("install");
    m_Temp = m_Dir->filePath("temp");
    QVERIFY(releasetest::makeSampleTrees(m_Old, m_New));
    QVERIFY(releasetest::copyTree(m_Old, m_Install));
    QVERIFY(QDir().mkpath(m_Temp) && QDir().mkpath(m_Dir->filePath("base")));
    Configuration::overrideUpdaterBaseDir(m_Dir->filePath("base"));
    const releasetest::ToolRun run = releasetest::runTool(
        {"build", "--pass", "client", "--version", "2", "--new", m_New, "--old", m_Old, "--key",
         QStringLiteral(VXM_DEMO_PRIVATE_KEY), "--out", m_Root});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    m_Server.clearRequests();
}

int TestReleasePipeline::runClientPass(QStringList *messages) {
    serveTree(&m_Server, m_Root);
    updateBaseUrl = m_Server.url(QString::fromLatin1(kBasePath));
    Configuration configuration;
    configuration.m_IsClientUpdate = 1;
    configuration.m_VersionNumber = 2;
    configuration.m_TempDir = m_Temp;
    configuration.m_InstallDir = m_Install + "/";
    QNetworkAccessManager manager;
    MainTaskSpecification pass(&manager, &configuration, nullptr, 1.0);
    connect(&pass, &TaskSpecification::message,
            [messages](const QString &text) { messages->append(text); });
    QSignalSpy finished(&pass, &TaskSpecification::finished);
    QSignalSpy canceled(&pass, &TaskSpecification::canceled);
    pass.execute();
    // Bounded wait for the outcome; the time taken is not what is tested.
    for (int i = 0; i < 600 && finished.isEmpty() && canceled.isEmpty(); ++i) {
        finished.wait(100);
    }
    return pass.state();
}

void TestReleasePipeline::oldTreeBecomesNewTree() {
    QStringList messages;
    const int state = runClientPass(&messages);
    QVERIFY2(state == Finished, qPrintable(messages.join('\n')));
    QCOMPARE(releasetest::contentsOf(m_Install), releasetest::contentsOf(m_New));
    QVERIFY(!QFileInfo::exists(m_Install + "/Resources/olddir"));
    QCOMPARE(m_Server.requestCount(kBasePath + "2/client/Resources/readme.txt._lzma2_"), 0);
    QCOMPARE(m_Server.requestCount(kBasePath + "2/client/MacOS/vxmclient_mac._raw_"), 1);
    // The changed library came as a patch of the installed one.
    QCOMPARE(m_Server.requestCount(kBasePath + "2/client/Frameworks/libcore.dylib.1_patch_"), 1);
    QCOMPARE(m_Server.requestCount(kBasePath + "2/client/Frameworks/libcore.dylib._raw_"), 0);
    QCOMPARE(m_Server.requestCount(kBasePath + "2/vxm_client_macosx.ini._lzma2_"), 1);
}

void TestReleasePipeline::tamperedFileIsRefusedAtInstall() {
    const QString served = m_Root + "/2/client/MacOS/vxmclient_mac._raw_";
    QByteArray tampered = releasetest::readFile(served);
    tampered[10] = static_cast<char>(tampered.at(10) ^ 0x20);
    QVERIFY(releasetest::writeFile(m_Root, "2/client/MacOS/vxmclient_mac._raw_", tampered));
    QStringList messages;
    const int state = runClientPass(&messages);
    QVERIFY2(state == Failed, qPrintable(messages.join('\n')));
    const QString installed = m_Install + "/MacOS/vxmclient_mac";
    QVERIFY2(messages.contains("Signature check failed for " + installed),
             qPrintable(messages.join('\n')));
    QVERIFY(releasetest::readFile(installed) != tampered);
    // Nothing was deleted: the pass stopped before its deletions.
    QVERIFY(QFileInfo::exists(m_Install + "/Resources/gone.txt"));
}

QTEST_GUILESS_MAIN(TestReleasePipeline)
#include "tst_releasepipeline.moc"
