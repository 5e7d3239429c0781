#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include "configuration.h"
#include "updatechecker.h"
#include "vxm_build_config.h"

// Every test runs with a private TMPDIR and VXM_CONFIG_DIR (isolated.sh); the
// updater base directory is pointed at a fresh folder inside TMPDIR.
class ConfigurationTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir *m_Base = nullptr;

    QString baseDir() const { return m_Base->path() + QStringLiteral("/"); }
    static QString configIni() { return Configuration::configDir() + QStringLiteral("update.ini"); }
    QString installIni() const { return baseDir() + QStringLiteral("update.ini"); }

    static void writeIni(const QString &path, const QVariantMap &values) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSettings settings(path, QSettings::IniFormat);
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            settings.setValue(it.key(), it.value());
        }
        settings.sync();
    }
    static void writeArgsFile(const QByteArray &bytes) {
        QFile file(QDir::tempPath() + QStringLiteral("/vxmclientupdateargs"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // A started query is a checker owned by the configuration, which waits
    // for its answer before it is ready.
    static bool queryStarted(const Configuration &configuration) {
        const bool checker = configuration.findChild<UpdateChecker *>() != nullptr;
        return checker && !configuration.m_Ready;
    }

private slots:
    void init() {
        m_Base = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/base-XXXXXX"));
        QVERIFY(m_Base->isValid());
        Configuration::overrideUpdaterBaseDir(m_Base->path());
        QFile::remove(configIni());
        QFile::remove(QDir::tempPath() + QStringLiteral("/vxmclientupdateargs"));
        const QStringList sessions =
            QDir::temp().entryList({QStringLiteral("voxmere_temp_*")}, QDir::AllEntries);
        for (const QString &name : sessions) {
            QFile::remove(QDir::temp().filePath(name));
            QDir(QDir::temp().filePath(name)).removeRecursively();
        }
    }
    void cleanup() {
        Configuration::overrideUpdaterBaseDir(QString());
        delete m_Base;
        m_Base = nullptr;
    }

    void commandLineForms_data() {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("isClientUpdate");
        QTest::addColumn<QString>("clientType");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("versionString");
        QTest::addColumn<bool>("query");

        const QString p = QStringLiteral("update");
        QTest::newRow("nothing") << QStringList{p} << true << 0 << "update_macosx" << 0 << ""
                                 << true;
        QTest::newRow("clientupdate alone")
            << QStringList{p, "--clientupdate"} << true << 1 << "client_macosx" << 0 << "" << true;
        QTest::newRow("clientupdate with #")
            << QStringList{p, "--clientupdate", "client_macosx", "77", "#"} << true << 1
            << "client_macosx" << 77 << "" << false;
        QTest::newRow("nouser with text")
            << QStringList{p, "--nouser", "update_macosx", "77", "3.2.1"} << true << 0
            << "update_macosx" << 77 << "3.2.1" << false;
        QTest::newRow("flag form without text")
            << QStringList{p, "--nouser", "update_macosx", "12"} << true << 0 << "update_macosx"
            << 12 << "" << false;
        QTest::newRow("flag form, bad version")
            << QStringList{p, "--nouser", "update_macosx", "abc"} << false << 0 << "update_macosx"
            << 0 << "" << false;
        QTest::newRow("positional") << QStringList{p, "client_macosx", "42"} << true << 0
                                    << "client_macosx" << 42 << "" << false;
        QTest::newRow("positional, bad version") << QStringList{p, "client_macosx", "4x2"} << false
                                                 << 0 << "client_macosx" << 0 << "" << false;
        QTest::newRow("two words: type ignored")
            << QStringList{p, "client_macosx"} << true << 0 << "update_macosx" << 0 << "" << true;
        QTest::newRow("four words without flag")
            << QStringList{p, "a", "b", "c"} << true << 0 << "update_macosx" << 0 << "" << true;
        QTest::newRow("flag is case-sensitive")
            << QStringList{p, "--ClientUpdate", "client_macosx", "5"} << true << 0
            << "update_macosx" << 0 << "" << true;
        QTest::newRow("extra words ignored")
            << QStringList{p, "--clientupdate", "client_macosx", "9", "v9", "x", "y"} << true << 1
            << "client_macosx" << 9 << "v9" << false;
    }
    void commandLineForms() {
        QFETCH(QStringList, words);
        QFETCH(bool, accepted);
        Configuration configuration;
        QSignalSpy fatal(&configuration, &Configuration::fatalError);
        QCOMPARE(configuration.parseCommandLineOptions(words), accepted);
        QCOMPARE(fatal.count(), accepted ? 0 : 1);
        if (!accepted) {
            QCOMPARE(fatal.at(0).at(0).toString(),
                     QStringLiteral("Invalid version nr (%1)").arg(words.at(words.size() - 1)));
            return;
        }
        QTEST(configuration.m_IsClientUpdate, "isClientUpdate");
        QTEST(configuration.m_ClientType, "clientType");
        QTEST(configuration.m_VersionNumber, "version");
        QTEST(configuration.m_VersionString, "versionString");
        QTEST(queryStarted(configuration), "query");
        QCOMPARE(configuration.m_Ready, !queryStarted(configuration));
    }

    void argumentFile_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("isClientUpdate");
        QTest::addColumn<QString>("clientType");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("versionString");

        QTest::newRow("plain") << QByteArray("--clientupdate\nclient_macosx\n31\n#") << 1
                               << "client_macosx" << 31 << "";
        QTest::newRow("blank lines and trailing newline")
            << QByteArray("\n--clientupdate\n\n\nclient_macosx\n31\n\nv31\n\n") << 1
            << "client_macosx" << 31 << "v31";
        QTest::newRow("NUL ends the arguments")
            << QByteArray("--nouser\nupdate_macosx\n8\nv8") + QByteArray(1, '\0') +
                   QByteArray("\nignored\n")
            << 0 << "update_macosx" << 8 << "v8";
        QTest::newRow("Latin-1 text") << QByteArray("--nouser\nupdate_macosx\n8\nv\xe9") << 0
                                      << "update_macosx" << 8 << QString::fromLatin1("v\xe9");
    }
    void argumentFile() {
        QFETCH(QByteArray, bytes);
        writeArgsFile(bytes);
        Configuration configuration;
        QVERIFY(configuration.parseCommandLineOptions(QStringList{QStringLiteral("update")}));
        QTEST(configuration.m_IsClientUpdate, "isClientUpdate");
        QTEST(configuration.m_ClientType, "clientType");
        QTEST(configuration.m_VersionNumber, "version");
        QTEST(configuration.m_VersionString, "versionString");
        QVERIFY(configuration.m_Ready);
    }

    void argumentFileIgnoredWithArguments() {
        writeArgsFile("--clientupdate\nclient_macosx\n31\n#");
        Configuration configuration;
        QVERIFY(configuration.parseCommandLineOptions({"update", "update_macosx", "5"}));
        QCOMPARE(configuration.m_IsClientUpdate, 0);
        QCOMPARE(configuration.m_VersionNumber, 5);
    }

    void channel_data() {
        QTest::addColumn<QVariantMap>("config");   // CONFIG/update.ini, empty: none
        QTest::addColumn<QVariantMap>("install");  // INSTALL/update.ini, empty: none
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("baseUrl");

        const QString builtIn = QString::fromUtf8(vxm::build::kUpdateBaseUrl);
        const QVariantMap none;
        QTest::newRow("no update.ini") << none << none << 0 << 5 << builtIn;
        QTest::newRow("beta in INSTALL")
            << none << QVariantMap{{"Channel/beta", true}} << 1 << 5 << builtIn;
        QTest::newRow("Beta spelled with capital")
            << none << QVariantMap{{"Channel/Beta", "true"}} << 1 << 5 << builtIn;
        QTest::newRow("beta false, Beta true")
            << none << QVariantMap{{"Channel/beta", false}, {"Channel/Beta", true}} << 1 << 5
            << builtIn;
        QTest::newRow("CONFIG before INSTALL")
            << QVariantMap{{"Channel/beta", false}} << QVariantMap{{"Channel/beta", true}} << 0 << 5
            << builtIn;
        QTest::newRow("alpha gets its slash, revision overrides")
            << QVariantMap{{"Channel/alpha", "http://alpha.example/files"},
                           {"Channel/alphaRevno", 77}}
            << none << 2 << 77 << "http://alpha.example/files/";
        QTest::newRow("alpha in INSTALL keeps its slash")
            << none
            << QVariantMap{{"Channel/alpha", "http://alpha.example/f/"}, {"Channel/alphaRevno", 3}}
            << 2 << 3 << "http://alpha.example/f/";
        QTest::newRow("other groups only")
            << none << QVariantMap{{"update/streams", 2}} << 0 << 5 << builtIn;
    }
    void channel() {
        QFETCH(QVariantMap, config);
        QFETCH(QVariantMap, install);
        if (!config.isEmpty()) {
            writeIni(configIni(), config);
        }
        if (!install.isEmpty()) {
            writeIni(installIni(), install);
        }
        updateBaseUrl.clear();
        Configuration configuration;
        QVERIFY(configuration.parseCommandLineOptions({"update", "client_macosx", "5"}));
        QTEST(configuration.m_Channel, "channel");
        QTEST(configuration.m_VersionNumber, "version");
        QTEST(updateBaseUrl, "baseUrl");
    }

    void alphaRevisionBeatsInvalidCommandLine() {
        writeIni(configIni(), {{"Channel/alpha", "http://a/"}, {"Channel/alphaRevno", 77}});
        Configuration configuration;
        QSignalSpy fatal(&configuration, &Configuration::fatalError);
        QVERIFY(
            configuration.parseCommandLineOptions({"update", "--nouser", "update_macosx", "x"}));
        QCOMPARE(configuration.m_VersionNumber, 77);
        QCOMPARE(fatal.count(), 0);
        QVERIFY(!queryStarted(configuration));
    }

    void streams_data() {
        QTest::addColumn<QVariant>("streams");
        QTest::addColumn<int>("expected");
        QTest::newRow("absent") << QVariant() << 6;
        QTest::newRow("two") << QVariant(2) << 2;
        QTest::newRow("zero") << QVariant(0) << 6;
        QTest::newRow("negative") << QVariant(-3) << 6;
        QTest::newRow("not a number") << QVariant("many") << 6;
    }
    void streams() {
        QFETCH(QVariant, streams);
        QVariantMap values{{"update/proxy", "http://proxy:3128"}};
        if (streams.isValid()) {
            values.insert(QStringLiteral("update/streams"), streams);
        }
        writeIni(installIni(), values);
        Configuration configuration;
        configuration.loadUpdateSettings();
        QTEST(configuration.m_Streams, "expected");
        QCOMPARE(configuration.m_Proxy, QStringLiteral("http://proxy:3128"));
    }

    void tempDirNaming() {
        const QString prefix = QDir::tempPath() + QStringLiteral("/voxmere_temp_");
        QVERIFY(QDir().mkpath(prefix + "0"));
        QFile taken(prefix + "1");  // a file takes a name as well
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        Configuration configuration;
        QVERIFY(configuration.initalizeStart(QString(), QString()));
        QCOMPARE(configuration.m_TempDir, prefix + "2");
        QVERIFY(QFileInfo(prefix + "2").isDir());
        QCOMPARE(configuration.m_InstallDir, baseDir() + QStringLiteral("../"));
    }

    void tempDirKeptForContinuedSession() {
        Configuration configuration;
        QVERIFY(configuration.initalizeStart("/t/voxmere_temp_4", "/i/Contents/"));
        QCOMPARE(configuration.m_TempDir, QStringLiteral("/t/voxmere_temp_4"));
        QCOMPARE(configuration.m_InstallDir, QStringLiteral("/i/Contents/"));
        QVERIFY(!QFileInfo::exists(QDir::tempPath() + QStringLiteral("/voxmere_temp_0")));
    }

    void tempDirGivesUpAfter1000() {
        const QString prefix = QDir::tempPath() + QStringLiteral("/voxmere_temp_");
        for (int n = 0; n < 1000; ++n) {
            QFile file(prefix + QString::number(n));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        Configuration configuration;
        QSignalSpy fatal(&configuration, &Configuration::fatalError);
        QVERIFY(!configuration.initalizeStart(QString(), QString()));
        QCOMPARE(fatal.count(), 1);
        QCOMPARE(fatal.at(0).at(0).toString(), QStringLiteral("Unable to create temp directory."));
        QVERIFY(!QFileInfo::exists(prefix + "1000"));
    }

    void defaults() {
        QCOMPARE(Configuration::defaultClientType(1), QStringLiteral("client_macosx"));
        QCOMPARE(Configuration::defaultClientType(0), QStringLiteral("update_macosx"));
        QVERIFY(Configuration::configDir().endsWith(QLatin1Char('/')));
        const QByteArray saved = qgetenv("VXM_CONFIG_DIR");
        qputenv("VXM_CONFIG_DIR", QByteArray());
        QVERIFY(Configuration::configDir().endsWith(QStringLiteral("/Voxmere/")));
        qputenv("VXM_CONFIG_DIR", saved);
    }
};

QTEST_MAIN(ConfigurationTest)
#include "tst_configuration.moc"
