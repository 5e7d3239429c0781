#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTextEdit>
#include <QTranslator>
#include <QtTest>

#include "configuration.h"
#include "enginetestsupport.h"
#include "mainwindow.h"
#include "processtools.h"
#include "updateinidata.h"

namespace {

const int kVersion = 7;

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    Configuration m_Config;
    std::unique_ptr<TestBundle> m_Bundle;
    std::unique_ptr<MainWindow> m_Window;
    TestEngine *m_Engine = nullptr;

    void makeWindow() {
        m_Engine = new TestEngine(&m_Config, nullptr);
        m_Window = std::make_unique<MainWindow>(&m_Config, m_Engine);
        m_Window->updateHeader();
        m_Window->show();
    }

    void startUpdate() { QVERIFY(QMetaObject::invokeMethod(m_Window.get(), "onStartUpdate")); }

    /// A window whose scripted main task is running.
    void makeRunningWindow() {
        makeWindow();
        startUpdate();
        QCOMPARE(m_Engine->tasksMade(), 1);
        QCOMPARE(m_Engine->state(), RUNNING);
    }

    QString details() const {
        return m_Window->findChild<QTextEdit *>(QStringLiteral("outputTextEdit"))->toPlainText();
    }
    int barValue() const {
        return m_Window->findChild<QProgressBar *>(QStringLiteral("totalProgressBar"))->value();
    }

private slots:
    void init() {
        QVERIFY(clearTestTempDir());
        m_Bundle = std::make_unique<TestBundle>();
        m_Config.m_IsClientUpdate = 0;
        m_Config.m_Channel = 0;
        m_Config.m_ClientType = Configuration::defaultClientType(0);
        m_Config.m_VersionNumber = kVersion;
        m_Config.m_VersionString.clear();
        m_Config.m_TempDir.clear();
        m_Config.m_InstallDir.clear();
        m_Config.m_Ready = true;
    }
    void cleanup() {
        m_Window.reset();
        m_Bundle.reset();
    }

    void layout() {
        makeWindow();
        QCOMPARE(m_Window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(m_Window->windowTitle(), QStringLiteral("Voxmere Client Update"));
        const auto *bar = m_Window->findChild<QProgressBar *>(QStringLiteral("totalProgressBar"));
        QCOMPARE(bar->maximum(), 1000);
        QCOMPARE(bar->value(), 0);
        auto *button = m_Window->findChild<QPushButton *>(QStringLiteral("detailsButton"));
        QCOMPARE(button->text(), QStringLiteral("Details"));
        const auto *text = m_Window->findChild<QTextEdit *>(QStringLiteral("outputTextEdit"));
        QVERIFY(!text->isVisible());
        button->click();
        QVERIFY(text->isVisible());
        const auto *banner = m_Window->findChild<QLabel *>(QStringLiteral("banner"));
        QVERIFY(!banner->pixmap(Qt::ReturnByValue).isNull());  // the compiled-in image
        const auto *logo = m_Window->findChild<QLabel *>(QStringLiteral("voxmereLabel"));
        QVERIFY(logo->isVisible());
        QVERIFY(!logo->pixmap(Qt::ReturnByValue).isNull());
        QCOMPARE(logo->maximumWidth(), logo->maximumHeight());
    }

    // The German catalogue built into the bundle translates the window.
    void germanTranslation() {
        QTranslator german;
        QVERIFY(german.load(QStringLiteral("update_de"), QStringLiteral(VXM_TRANSLATIONS_DIR)));
        QVERIFY(QCoreApplication::installTranslator(&german));
        m_Config.m_VersionString = QStringLiteral("3.2.1");
        makeWindow();
        QCoreApplication::removeTranslator(&german);
        const QString header =
            m_Window->findChild<QLabel *>(QStringLiteral("versionLabel"))->text();
        QVERIFY2(header.contains(QStringLiteral("Aktualisierung auf Voxmere 3.2.1")),
                 qPrintable(header));
        QVERIFY(header.contains(QStringLiteral("<strong>Kanal Stabil</strong>")));
        QVERIFY(header.contains(QStringLiteral("Schritt eins: Updater wird aktualisiert")));
    }

    void startTriggersStartOnce_data() {
        QTest::addColumn<bool>("readySignalFirst");
        QTest::newRow("ready() first, then the start-up tick") << true;
        QTest::newRow("start-up tick first, then ready()") << false;
    }
    void startTriggersStartOnce() {
        QFETCH(bool, readySignalFirst);
        m_Config.m_Ready = false;
        makeWindow();
        startUpdate();  // an early tick while the version query still runs
        QCOMPARE(m_Engine->tasksMade(), 0);
        QCOMPARE(m_Engine->state(), PRE_INIT);

        m_Config.m_Ready = true;
        if (readySignalFirst) {
            emit m_Config.ready();
            startUpdate();
        } else {
            startUpdate();
            emit m_Config.ready();
        }
        QCOMPARE(m_Engine->tasksMade(), 1);
        QCOMPARE(m_Engine->state(), RUNNING);
        QCOMPARE(QDir(QDir::tempPath()).entryList({QStringLiteral("voxmere_temp_*")}),
                 QStringList{QStringLiteral("voxmere_temp_0")});
    }

    // A session that cannot be recorded is reported once, although both
    // start triggers arrive; the window then stays open and idle.
    void unwritableSessionReportedOnce() {
        QVERIFY(QDir().mkpath(UpdateIniData::updateIniPath()));  // a folder where the file belongs
        makeWindow();
        ModalAnswerer answerer({QMessageBox::Ok, QMessageBox::Ok});
        startUpdate();
        emit m_Config.ready();
        QCOMPARE(answerer.m_Seen, QStringList{QStringLiteral(
                                      "Error: Failed to write update.ini. The updater does not "
                                      "seem to have the required write permissions.")});
        QCOMPARE(m_Engine->tasksMade(), 0);
        QCOMPARE(m_Engine->state(), PRE_INIT);
        QVERIFY(m_Window->close());
    }

    void abortQuestionNo() {
        makeRunningWindow();
        ModalAnswerer answerer({QMessageBox::No});
        QVERIFY(!m_Window->close());
        QCOMPARE(answerer.m_Seen,
                 QStringList{QStringLiteral("Question: <p>Update in progress.</p><p>Are you sure "
                                            "you want to abort?</p>")});
        QVERIFY(m_Window->isVisible());
        QCOMPARE(m_Engine->state(), RUNNING);
        QVERIFY(!m_Engine->task()->isCancelRequested());
    }

    void abortQuestionYesEndsTheProcess() {
        makeRunningWindow();
        ModalAnswerer answerer({QMessageBox::Yes});
        QTimer::singleShot(0, m_Window.get(), [this] { m_Window->close(); });
        QCOMPARE(runEventLoop(), 0);
        QCOMPARE(answerer.m_Seen.size(), 1);  // the question only, no "Update cancelled" box
        QVERIFY(answerer.m_Seen.first().startsWith(QStringLiteral("Question: ")));
        QCOMPARE(m_Engine->state(), CANCELED);
        QVERIFY(!details().contains(QStringLiteral("Update cancelled")));
        QVERIFY(details().contains(QStringLiteral("User aborted update")));
    }

    void failedUpdateLeavesWindowOpen() {
        makeRunningWindow();
        m_Engine->task()->progress(0.3);
        QCOMPARE(barValue(), 300);
        ModalAnswerer answerer;
        m_Engine->task()->fail(QStringLiteral("Download of client.dylib failed"));
        QCOMPARE(answerer.m_Seen,
                 (QStringList{QStringLiteral("Error: Download of client.dylib failed"),
                              QStringLiteral("Update: Update cancelled. Push \"Details\" to check "
                                             "reasons.")}));
        QCOMPARE(details(), QStringLiteral("Download of client.dylib failed\nUpdate cancelled"));
        QCOMPARE(barValue(), 0);
        QVERIFY(m_Window->isVisible());
        QCOMPARE(m_Engine->state(), PRE_INIT);
        startUpdate();  // no second session in this process
        QCOMPARE(m_Engine->tasksMade(), 1);
        QVERIFY(m_Window->close());  // no question: nothing runs any more
    }

    void header_data() {
        QTest::addColumn<int>("isClientUpdate");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("versionString");
        QTest::addColumn<QString>("header");
        const QString first =
            "<div style=\"margin-top:0.2em;font-style:italic\">Step one: Updating updater</div>";
        const QString second =
            "<div style=\"margin-top:0.2em;font-style:italic\">Step two: Updating Voxmere "
            "client</div>";
        QTest::newRow("first pass, stable, no version text")
            << 0 << 0 << ""
            << "<div style=\"margin-top:0.2em\">You are currently on <strong>Stable "
               "channel</strong>.</div>" +
                   first;
        QTest::newRow("second pass, beta, version text")
            << 1 << 1 << "3.2.1"
            << "<div style=\"font-weight:bold;font-size:large\">Update to Voxmere 3.2.1</div>"
               "<div style=\"margin-top:0.2em\">You are currently on <strong>Beta "
               "channel</strong>.</div>" +
                   second;
        QTest::newRow("alpha")
            << 0 << 2 << ""
            << "<div style=\"margin-top:0.2em\">You are currently on <strong>Alpha "
               "channel</strong>.</div>" +
                   first;
        QTest::newRow("unknown channel: no name")
            << 1 << 5 << ""
            << "<div style=\"margin-top:0.2em\">You are currently on <strong> "
               "channel</strong>.</div>" +
                   second;
    }
    void header() {
        QFETCH(int, isClientUpdate);
        QFETCH(int, channel);
        QFETCH(QString, versionString);
        m_Config.m_IsClientUpdate = isClientUpdate;
        m_Config.m_Channel = channel;
        m_Config.m_VersionString = versionString;
        makeWindow();
        QTEST(m_Window->findChild<QLabel *>(QStringLiteral("versionLabel"))->text(), "header");
    }

    void progressBar_data() {
        QTest::addColumn<double>("progress");
        QTest::addColumn<int>("value");
        QTest::newRow("truncated thousandths") << 0.4567 << 456;
        QTest::newRow("just below the end") << 0.9999 << 999;
        QTest::newRow("weights above 1 are clamped") << 1.2 << 1000;
        QTest::newRow("negative is clamped") << -0.1 << 0;
        QTest::newRow("not a number") << qQNaN() << 0;
    }
    void progressBar() {
        QFETCH(double, progress);
        makeRunningWindow();
        m_Engine->task()->progress(progress);
        QTEST(barValue(), "value");
    }

    void invalidProxyEndsWithStatus2() {
        QSettings(m_Bundle->iniPath(), QSettings::IniFormat)
            .setValue(QStringLiteral("update/proxy"), QStringLiteral("http://[::1"));
        makeWindow();
        ModalAnswerer answerer;
        // A start-up tick while the box is open must not start a session.
        QTimer::singleShot(0, m_Window.get(), [this] { startUpdate(); });
        QCOMPARE(runEventLoop(), 2);
        QCOMPARE(answerer.m_Seen,
                 QStringList{QStringLiteral("Error: 'http://[::1' is an invalid proxy "
                                            "specification")});
        QCOMPARE(m_Engine->tasksMade(), 0);
    }

    void configurationFatalErrorEndsWithStatus1() {
        makeWindow();
        ModalAnswerer answerer;
        QTimer::singleShot(0, &m_Config, [this] {
            emit m_Config.fatalError(QStringLiteral("Update server returned no version"));
        });
        QCOMPARE(runEventLoop(), 1);
        QCOMPARE(answerer.m_Seen,
                 QStringList{QStringLiteral("Error: Update server returned no version")});
    }

    void firstPassHandsOverToTheNewUpdater_data() {
        QTest::addColumn<QString>("versionString");
        QTest::addColumn<QByteArray>("arguments");
        QTest::newRow("no version text")
            << "" << QByteArray("--clientupdate\nclient_macosx\n7\n#\n");
        QTest::newRow("version text")
            << "3.2.1" << QByteArray("--clientupdate\nclient_macosx\n7\n3.2.1\n");
    }
    void firstPassHandsOverToTheNewUpdater() {
        QFETCH(QString, versionString);
        m_Config.m_VersionString = versionString;
        makeRunningWindow();
        m_Engine->task()->finish();
        QVERIFY(m_Window->isVisible());  // the hand-over waits a second
        QTRY_VERIFY_WITH_TIMEOUT(!m_Window->isVisible(), 10000);
        QTEST(readFile(ProcessTools::argsFilePath()), "arguments");
        QCOMPARE(readFile(ProcessTools::starterScriptPath()),
                 ProcessTools::escapeSpaces(
                     m_Config.m_TempDir +
                     QStringLiteral("/SharedSupport/update.app/Contents/MacOS/update"))
                     .toLatin1());
    }

    void secondPassRepairsLinksAndStartsTheClient() {
        m_Config.m_IsClientUpdate = 1;
        m_Config.m_ClientType = Configuration::defaultClientType(1);
        const QString shared = m_Bundle->m_Base;
        const QString toolFrameworks = shared + QStringLiteral("update.app/Contents/Frameworks/");
        const QString webEngine = shared + QStringLiteral("QtWebEngineProcess.app/Contents/MacOS/");
        QVERIFY(QDir().mkpath(toolFrameworks));
        QVERIFY(QDir().mkpath(webEngine));
        QVERIFY(QDir().mkpath(shared + QStringLiteral("crash_sender.app/Contents/Frameworks")));
        QVERIFY(QDir().mkpath(shared + QStringLiteral("plugin_setup.app/Contents")));
        // An existing framework link is left as it is; a resource entry in
        // the way is replaced by the link.
        QVERIFY(QFile::link(QStringLiteral("elsewhere"), toolFrameworks + "libQt5Core.dylib"));
        QFile planted(webEngine + QStringLiteral("icudtl.dat"));
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.close();
        const QString client = m_Bundle->m_Contents + QStringLiteral("MacOS/vxmclient_mac");
        QVERIFY(QDir().mkpath(QFileInfo(client).absolutePath()));
        QVERIFY(QFile::copy(QStringLiteral(VXM_START_MARKER), client));
        const QString marker = QDir::tempPath() + QStringLiteral("/client-started.txt");
        qputenv("VXM_MARKER_FILE", QFile::encodeName(marker));

        makeRunningWindow();
        m_Engine->task()->finish();

        QCOMPARE(QFileInfo(toolFrameworks + "libQt5Core.dylib").symLinkTarget(),
                 toolFrameworks + "elsewhere");
        QCOMPARE(QFile::symLinkTarget(toolFrameworks + "libQt5Gui.dylib"),
                 QDir::cleanPath(m_Bundle->m_Contents + "Frameworks/libQt5Gui.dylib"));
        QVERIFY(QFileInfo(shared + "plugin_setup.app/Contents/Frameworks/libQt5Positioning.dylib")
                    .isSymLink());
        QVERIFY(
            QFileInfo(shared + "crash_sender.app/Contents/Frameworks/libquazip.dylib").isSymLink());
        QVERIFY(QFileInfo(webEngine + "icudtl.dat").isSymLink());
        QVERIFY(QFileInfo(webEngine + "qtwebengine_locales").isSymLink());
        QTRY_VERIFY_WITH_TIMEOUT(!m_Window->isVisible(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(marker), 15000);
    }

    void forceUpdateFiles_data() {
        QTest::addColumn<int>("isClientUpdate");
        QTest::addColumn<bool>("kept");
        QTest::newRow("first pass deletes them") << 0 << false;
        QTest::newRow("second pass keeps them") << 1 << true;
    }
    void forceUpdateFiles() {
        QFETCH(int, isClientUpdate);
        m_Config.m_IsClientUpdate = isClientUpdate;
        makeWindow();
        m_Window->write_force_update_file(QStringLiteral("vxm_force_update"));
        m_Window->write_force_update_file(QStringLiteral("vxm_force_update_check"));
        QVERIFY(QFileInfo::exists(QDir::tempPath() + QStringLiteral("/vxm_force_update")));
        m_Window->delete_force_update_files();
        QTEST(QFileInfo::exists(QDir::tempPath() + QStringLiteral("/vxm_force_update")), "kept");
        QTEST(QFileInfo::exists(QDir::tempPath() + QStringLiteral("/vxm_force_update_check")),
              "kept");
    }

    void rebootQuestion_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("notice");
        QTest::newRow("yes") << int(QMessageBox::Yes) << "vxm_force_update";
        QTest::newRow("no") << int(QMessageBox::No) << "vxm_force_update_check";
    }
    void rebootQuestion() {
        QFETCH(int, answer);
        QFETCH(QString, notice);
        makeRunningWindow();
        ModalAnswerer answerer({answer});
        QTimer::singleShot(0, m_Window.get(), &MainWindow::onRebootWithConfirmation);
        QCOMPARE(runEventLoop(), 0);
        QCOMPARE(answerer.m_Seen.size(), 1);
        QVERIFY(answerer.m_Seen.first().startsWith(QStringLiteral("Confirm reboot: ")));
        QVERIFY(QFileInfo::exists(QDir::tempPath() + QLatin1Char('/') + notice));
        // The session stays recorded for the next start.
        QVERIFY(QFileInfo::exists(m_Bundle->iniPath()));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
