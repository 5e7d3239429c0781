#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include "configuration.h"
#include "enginetestsupport.h"
#include "processtools.h"
#include "updateinidata.h"

namespace {

enum RecordedDir { NoRecord, SessionDir, MissingDir, ForeignDir, LinkToForeignDir };

const int kNewVersion = 7;
const char kInstallDir[] = "/opt/voxmere/Voxmere Client.app/Contents/";

QString tempPath(const QString &name) {
    return QDir::tempPath() + QLatin1Char('/') + name;
}

void touch(const QString &path) {
    QVERIFY2(writeFile(path, "data"), qPrintable(path));
}

void writeIni(const QString &path, const QString &group, const QVariantMap &values) {
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(group);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        settings.setValue(it.key(), it.value());
    }
    settings.endGroup();
    settings.sync();
}

QStringList texts(const QSignalSpy &spy) {
    QStringList result;
    for (const QList<QVariant> &args : spy) {
        result.append(args.at(0).toString());
    }
    return result;
}

}  // namespace

Q_DECLARE_METATYPE(RecordedDir)

class UpdateEngineTest : public QObject {
    Q_OBJECT

    Configuration m_Config;

    void configure(int isClientUpdate) {
        m_Config.m_IsClientUpdate = isClientUpdate;
        m_Config.m_ClientType = Configuration::defaultClientType(isClientUpdate);
        m_Config.m_VersionNumber = kNewVersion;
        m_Config.m_TempDir.clear();
        m_Config.m_InstallDir.clear();
        m_Config.m_Proxy.clear();
        m_Config.m_Ready = true;
    }

    /// A running engine with a recorded fresh session.
    void startSession(TestEngine &engine) {
        QVERIFY(engine.initialize());
        QVERIFY(engine.startUpdate());
        QVERIFY(engine.task() != nullptr);
        QCOMPARE(engine.task()->state(), int(Running));
    }

private slots:
    void init() {
        QVERIFY(clearTestTempDir());
        configure(0);
    }

    void sessionContinueOrCleanup_data() {
        QTest::addColumn<RecordedDir>("recorded");
        QTest::addColumn<int>("recordedVersion");
        QTest::addColumn<bool>("continued");
        QTest::addColumn<bool>("recordedDirSurvives");
        QTest::addColumn<QString>("expectedMessage");

        QTest::newRow("no session recorded") << NoRecord << 0 << false << true << QString();
        QTest::newRow("same version continues")
            << SessionDir << kNewVersion << true << true
            << QStringLiteral("Previous update session for v. 7 found");
        QTest::newRow("other version cleaned up")
            << SessionDir << 6 << false << false << QStringLiteral("Ok");
        QTest::newRow("recorded directory gone: no session")
            << MissingDir << 6 << false << false << QString();
        QTest::newRow("foreign directory, other version: kept")
            << ForeignDir << 6 << false << true
            << QStringLiteral("is not an updater temporary directory");
        QTest::newRow("foreign directory, same version: kept, not continued")
            << ForeignDir << kNewVersion << false << true
            << QStringLiteral("is not an updater temporary directory");
        QTest::newRow("link named like a session directory: target kept")
            << LinkToForeignDir << 6 << false << true
            << QStringLiteral("is not an updater temporary directory");
    }
    void sessionContinueOrCleanup() {
        QFETCH(RecordedDir, recorded);
        QFETCH(int, recordedVersion);
        QFETCH(bool, continued);
        QFETCH(bool, recordedDirSurvives);
        QFETCH(QString, expectedMessage);

        TestBundle bundle;
        const QString foreign = tempPath(QStringLiteral("home/Documents"));
        touch(foreign + QStringLiteral("/letter.txt"));
        QString recordedDir = tempPath(QStringLiteral("voxmere_temp_5"));
        if (recorded == SessionDir) {
            touch(recordedDir + QStringLiteral("/sub/.hidden"));
            touch(recordedDir + QStringLiteral("/client_macosx.ini"));
        } else if (recorded == ForeignDir) {
            recordedDir = foreign;
        } else if (recorded == LinkToForeignDir) {
            QVERIFY(QFile::link(foreign, recordedDir));
        }
        if (recorded != NoRecord) {
            writeIni(bundle.iniPath(), QStringLiteral("current"),
                     {{QStringLiteral("version"), recordedVersion},
                      {QStringLiteral("dir"), recordedDir},
                      {QStringLiteral("vxmdir"), QLatin1String(kInstallDir)},
                      {QStringLiteral("type"), QStringLiteral("update_macosx")}});
        }

        TestEngine engine(&m_Config, nullptr);
        QSignalSpy messages(&engine, &UpdateEngine::message);
        QVERIFY(engine.initialize());
        QCOMPARE(engine.state(), POST_INIT);
        QVERIFY(engine.isSessionActive());

        if (continued) {
            QCOMPARE(m_Config.m_TempDir, recordedDir);
            QCOMPARE(m_Config.m_InstallDir, QLatin1String(kInstallDir));
        } else {
            QCOMPARE(m_Config.m_TempDir, tempPath(QStringLiteral("voxmere_temp_0")));
            QCOMPARE(m_Config.m_InstallDir, bundle.m_Base + QStringLiteral("../"));
        }
        QVERIFY(QFileInfo(m_Config.m_TempDir).isDir());
        if (recorded != MissingDir && recorded != NoRecord) {
            QCOMPARE(QFileInfo::exists(recordedDir), recordedDirSurvives);
        }
        // Nothing outside a session directory is ever deleted.
        QVERIFY(QFileInfo::exists(foreign + QStringLiteral("/letter.txt")));
        const QStringList lines = texts(messages);
        if (expectedMessage.isEmpty()) {
            QVERIFY2(lines.isEmpty(), qPrintable(lines.join('|')));
        } else {
            QVERIFY2(lines.join('|').contains(expectedMessage), qPrintable(lines.join('|')));
        }
        if (recorded == SessionDir && !continued) {
            QCOMPARE(
                lines.first(),
                QStringLiteral("Cleanup previous session (v. 6, %1) files...").arg(recordedDir));
        }

        int version = 0;
        QString type;
        QString dir;
        QString vxmdir;
        QVERIFY(UpdateIniData::get(&version, &type, &dir, &vxmdir));
        QCOMPARE(version, kNewVersion);
        QCOMPARE(dir, m_Config.m_TempDir);
        QCOMPARE(vxmdir, m_Config.m_InstallDir);
        QCOMPARE(type, QStringLiteral("update_macosx"));
    }

    void unwritableUpdateIniStopsTheSession() {
        TestBundle bundle;
        // A directory in the file's place makes every write fail, even for root.
        QVERIFY(QDir().mkpath(bundle.iniPath()));
        TestEngine engine(&m_Config, nullptr);
        QSignalSpy errors(&engine, &UpdateEngine::error);
        QVERIFY(!engine.initialize());
        QCOMPARE(engine.state(), PRE_INIT);
        QVERIFY(!engine.isSessionActive());
        QCOMPARE(texts(errors), QStringList{QStringLiteral(
                                    "Failed to write update.ini. The updater does not seem to "
                                    "have the required write permissions.")});
        QCOMPARE(engine.tasksMade(), 0);
    }

    void taskOutcome_data() {
        QTest::addColumn<int>("isClientUpdate");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<bool>("tempDirSurvives");
        QTest::addColumn<bool>("iniSurvives");
        QTest::addColumn<QStringList>("expectedMessages");

        QTest::newRow("first pass finishes")
            << 0 << "finish" << true << false
            << QStringList{"Removed temporary update.ini", "Update successfully finished"};
        QTest::newRow("second pass finishes")
            << 1 << "finish" << false << false
            << QStringList{"Remove temporary files...", "Ok", "Temporary files removed.",
                           "Update successfully finished"};
        QTest::newRow("user cancels")
            << 0 << "cancel" << true << true << QStringList{"User aborted update"};
        QTest::newRow("a step fails") << 1 << "fail" << true << true << QStringList{};
    }
    void taskOutcome() {
        QFETCH(int, isClientUpdate);
        QFETCH(QString, outcome);
        QFETCH(bool, tempDirSurvives);
        QFETCH(bool, iniSurvives);
        QFETCH(QStringList, expectedMessages);

        TestBundle bundle;
        configure(isClientUpdate);
        touch(ProcessTools::argsFilePath());
        TestEngine engine(&m_Config, nullptr);
        startSession(engine);
        const QString tempDir = m_Config.m_TempDir;
        touch(tempDir + QStringLiteral("/SharedSupport/update.app/Contents/MacOS/update"));

        QSignalSpy messages(&engine, &UpdateEngine::message);
        QSignalSpy finished(&engine, &UpdateEngine::updateFinished);
        QSignalSpy canceled(&engine, &UpdateEngine::updateCanceled);
        QSignalSpy progress(&engine, &UpdateEngine::downloadProgress);
        QPointer<ScriptedTask> task = engine.task();
        if (outcome == QLatin1String("finish")) {
            task->finish();
        } else if (outcome == QLatin1String("fail")) {
            task->fail(QStringLiteral("Download failed"));
        } else {
            engine.cancelUpdate();
            QVERIFY(canceled.wait());
        }

        const bool success = outcome == QLatin1String("finish");
        QCOMPARE(finished.count(), success ? 1 : 0);
        QCOMPARE(canceled.count(), success ? 0 : 1);
        QCOMPARE(engine.state(), success ? FINISHED : CANCELED);
        QVERIFY(!engine.isSessionActive());
        QCOMPARE(texts(messages), expectedMessages);
        QCOMPARE(progress.count(), 1);
        QCOMPARE(progress.first(), (QList<QVariant>{0ULL, 0ULL, 0ULL, false}));
        QCOMPARE(QFileInfo::exists(tempDir), tempDirSurvives);
        QCOMPARE(QFileInfo::exists(bundle.iniPath()), iniSurvives);
        // The argument file belongs to the second pass and goes with it.
        QCOMPARE(QFileInfo::exists(ProcessTools::argsFilePath()), !(success && isClientUpdate));
        QTRY_VERIFY(task.isNull());  // deleted later, through the event loop
    }

    void cleanupKeepsForeignRecordedDirectory() {
        TestBundle bundle;
        configure(1);
        TestEngine engine(&m_Config, nullptr);
        startSession(engine);
        const QString foreign = tempPath(QStringLiteral("home/Documents"));
        touch(foreign + QStringLiteral("/letter.txt"));
        QVERIFY(UpdateIniData::modify(kNewVersion, foreign, m_Config.m_InstallDir,
                                      m_Config.m_ClientType));
        QSignalSpy messages(&engine, &UpdateEngine::message);
        engine.task()->finish();
        QVERIFY(QFileInfo::exists(foreign + QStringLiteral("/letter.txt")));
        QVERIFY(!QFileInfo::exists(bundle.iniPath()));
        QVERIFY(texts(messages).join('|').contains(
            QStringLiteral("Not deleting %1: it is not an updater temporary directory")
                .arg(foreign)));
    }

    void resetAfterCancelDropsTheTask() {
        TestBundle bundle;
        TestEngine engine(&m_Config, nullptr);
        startSession(engine);
        QPointer<ScriptedTask> task = engine.task();
        task->fail(QStringLiteral("broken"));
        QCOMPARE(engine.state(), CANCELED);
        engine.resetAfterCancel();
        QCOMPARE(engine.state(), PRE_INIT);
        QVERIFY(!engine.isSessionActive());
        QTRY_VERIFY(task.isNull());
    }

    void pollReportsDownloadFigures() {
        TestBundle bundle;
        TestEngine engine(&m_Config, nullptr);
        startSession(engine);
        ScriptedTask *task = engine.task();
        task->m_Done = 100;
        task->m_Total = 400;
        task->m_Speed = 50;
        task->m_Downloading = true;
        QSignalSpy progress(&engine, &UpdateEngine::downloadProgress);
        QVERIFY(progress.wait(5000));
        QCOMPARE(progress.first(), (QList<QVariant>{100ULL, 400ULL, 50ULL, true}));
        task->finish();
        QCOMPARE(progress.last(), (QList<QVariant>{0ULL, 0ULL, 0ULL, false}));
    }

    void relaysTaskSignals() {
        TestBundle bundle;
        TestEngine engine(&m_Config, nullptr);
        startSession(engine);
        QSignalSpy progress(&engine, &UpdateEngine::updateProgress);
        QSignalSpy errors(&engine, &UpdateEngine::error);
        QSignalSpy messages(&engine, &UpdateEngine::message);
        engine.task()->progress(0.25);
        emit engine.task()->message(QStringLiteral("step"));
        emit m_Config.message(QStringLiteral("from the configuration"));
        engine.task()->fail(QStringLiteral("broken"));
        QCOMPARE(progress.last().at(0).toDouble(), 0.25);
        QCOMPARE(texts(errors), QStringList{QStringLiteral("broken")});
        QCOMPARE(texts(messages),
                 (QStringList{QStringLiteral("step"), QStringLiteral("from the configuration")}));
    }

    void proxy_data() {
        QTest::addColumn<QString>("specification");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("none: no system proxy") << "" << int(QNetworkProxy::NoProxy) << "" << 0;
        QTest::newRow("host and port") << "http://proxy.example:8080"
                                       << int(QNetworkProxy::HttpProxy) << "proxy.example" << 8080;
        QTest::newRow("no port: 3128")
            << "http://proxy.example" << int(QNetworkProxy::HttpProxy) << "proxy.example" << 3128;
    }
    void proxy() {
        QFETCH(QString, specification);
        TestBundle bundle;
        writeIni(bundle.iniPath(), QStringLiteral("update"),
                 {{QStringLiteral("proxy"), specification}});
        TestEngine engine(&m_Config, nullptr);
        const auto *network = engine.findChild<QNetworkAccessManager *>();
        QVERIFY(network != nullptr);
        QTEST(int(network->proxy().type()), "type");
        QTEST(network->proxy().hostName(), "host");
        QTEST(int(network->proxy().port()), "port");
    }

    void invalidProxyIsFatalOnceTheLoopRuns() {
        TestBundle bundle;
        writeIni(bundle.iniPath(), QStringLiteral("update"),
                 {{QStringLiteral("proxy"), QStringLiteral("http://[::1")}});
        TestEngine engine(&m_Config, nullptr);
        QSignalSpy fatal(&engine, &UpdateEngine::fatalError);
        QCOMPARE(fatal.count(), 0);  // nobody could listen during construction
        QVERIFY(fatal.wait());
        QCOMPARE(texts(fatal),
                 QStringList{QStringLiteral("'http://[::1' is an invalid proxy specification")});
        QVERIFY(!engine.initialize());
        QCOMPARE(engine.tasksMade(), 0);
    }
};

QTEST_MAIN(UpdateEngineTest)
#include "tst_updateengine.moc"
