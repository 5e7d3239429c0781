// UpdateIniData against real update.ini files in a temporary base directory.

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "configuration.h"
#include "updateinidata.h"

namespace {

bool writeFile(const QString &path, const QByteArray &content) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

}  // namespace

class UpdateIniDataTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void noFile();
    void getChecksValidity_data();
    void getChecksValidity();
    void modifyKeepsOtherGroups();
    void modifyRoundTripsSeparators();
    void modifyFailsWhenUnwritable();
    void modifyTempIniWritesClientType_data();
    void modifyTempIniWritesClientType();
    void modifyTempIniWithoutSession();
    void modifyTempIniFailsWhenUnwritable();

private:
    QString iniPath() const { return m_Base->filePath(QStringLiteral("update.ini")); }
    /// A directory that exists for the lifetime of the test.
    QString sessionDir() const { return m_Base->filePath(QStringLiteral("session dir")); }

    QTemporaryDir *m_Base = nullptr;
};

void UpdateIniDataTest::init() {
    m_Base = new QTemporaryDir;
    QVERIFY(m_Base->isValid());
    QVERIFY(QDir().mkpath(sessionDir()));
    Configuration::overrideUpdaterBaseDir(m_Base->path());
}

void UpdateIniDataTest::cleanup() {
    Configuration::overrideUpdaterBaseDir(QString());
    delete m_Base;
    m_Base = nullptr;
}

void UpdateIniDataTest::noFile() {
    QCOMPARE(UpdateIniData::updateIniPath(), QFileInfo(iniPath()).absoluteFilePath());
    int version = -1;
    QString type = QStringLiteral("untouched");
    QVERIFY(!UpdateIniData::get(&version, &type, nullptr, nullptr));
    QCOMPARE(version, -1);
    QCOMPARE(type, QStringLiteral("untouched"));

    QVERIFY(UpdateIniData::modify(42, sessionDir(), QStringLiteral("/install/"),
                                  QStringLiteral("update_macosx")));
    QSettings written(iniPath(), QSettings::IniFormat);
    QCOMPARE(written.childGroups(), QStringList{"current"});
    QCOMPARE(written.value("current/version").toInt(), 42);
}

void UpdateIniDataTest::getChecksValidity_data() {
    // "@DIR@" stands for an existing directory, "@FILE@" for an existing file.
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("valid");
    const QByteArray tail = "\nvxmdir=/Applications/Voxmere Client.app/\ntype=update_macosx\n";
    QTest::newRow("valid") << "[current]\nversion=12\ndir=@DIR@" + tail << true;
    QTest::newRow("dir deleted") << "[current]\nversion=12\ndir=@DIR@/gone" + tail << false;
    QTest::newRow("dir names a file") << "[current]\nversion=12\ndir=@FILE@" + tail << true;
    QTest::newRow("version not numeric") << "[current]\nversion=twelve\ndir=@DIR@" + tail << false;
    QTest::newRow("version missing") << "[current]\ndir=@DIR@" + tail << false;
    QTest::newRow("dir empty") << "[current]\nversion=12\ndir=" + tail << false;
    QTest::newRow("type empty") << QByteArray("[current]\nversion=12\ndir=@DIR@\ntype=\n") << false;
    QTest::newRow("vxmdir empty") << QByteArray("[current]\nversion=12\ndir=@DIR@\ntype=t\n")
                                  << true;
    QTest::newRow("other group only") << "[update]\nversion=12\ndir=@DIR@" + tail << false;
    QTest::newRow("not an ini") << QByteArray("\x00\x01[[[=\n", 7) << false;
}

void UpdateIniDataTest::getChecksValidity() {
    QFETCH(QByteArray, ini);
    QFETCH(bool, valid);
    const QString file = m_Base->filePath(QStringLiteral("plain file"));
    QVERIFY(writeFile(file, "x"));
    ini.replace("@DIR@", sessionDir().toUtf8()).replace("@FILE@", file.toUtf8());
    QVERIFY(writeFile(iniPath(), ini));

    int version = -1;
    QString type;
    QString dir;
    QString vxmdir = QStringLiteral("untouched");
    QCOMPARE(UpdateIniData::get(&version, &type, &dir, &vxmdir), valid);
    QCOMPARE(UpdateIniData::get(nullptr, nullptr, nullptr, nullptr), valid);
    if (!valid) {
        QCOMPARE(version, -1);
        QCOMPARE(vxmdir, QStringLiteral("untouched"));
        return;
    }
    QCOMPARE(version, 12);
    QVERIFY(dir == sessionDir() || dir == file);
    QVERIFY(!type.isEmpty());
}

void UpdateIniDataTest::modifyKeepsOtherGroups() {
    QVERIFY(writeFile(iniPath(),
                      "[Channel]\nalpha=http://alpha.example/\nalphaRevno=5\nbeta=true\n"
                      "\n[update]\nproxy=http://proxy:8080\nstreams=3\n"
                      "\n[current]\nversion=1\ndir=/old\nvxmdir=/old/\ntype=x\n"));
    QVERIFY(UpdateIniData::modify(77, sessionDir(), QStringLiteral("/inst/"),
                                  QStringLiteral("client_macosx")));
    QSettings s(iniPath(), QSettings::IniFormat);
    QCOMPARE(s.value("Channel/alpha").toString(), QStringLiteral("http://alpha.example/"));
    QCOMPARE(s.value("Channel/alphaRevno").toInt(), 5);
    QCOMPARE(s.value("Channel/beta").toBool(), true);
    QCOMPARE(s.value("update/proxy").toString(), QStringLiteral("http://proxy:8080"));
    QCOMPARE(s.value("update/streams").toInt(), 3);

    int version = 0;
    QString type;
    QString dir;
    QString vxmdir;
    QVERIFY(UpdateIniData::get(&version, &type, &dir, &vxmdir));
    QCOMPARE(version, 77);
    QCOMPARE(dir, sessionDir());
    QCOMPARE(vxmdir, QStringLiteral("/inst/"));
    QCOMPARE(type, QStringLiteral("client_macosx"));
}

void UpdateIniDataTest::modifyRoundTripsSeparators() {
    const QString odd = m_Base->filePath(QStringLiteral("a b, c;d=e \"q\""));
    QVERIFY(QDir().mkpath(odd));
    const QString vxmdir = QStringLiteral("/x, y;z/");
    QVERIFY(UpdateIniData::modify(3, odd, vxmdir, QStringLiteral("update_macosx")));
    QString dir;
    QString gotVxmDir;
    QVERIFY(UpdateIniData::get(nullptr, nullptr, &dir, &gotVxmDir));
    QCOMPARE(dir, odd);
    QCOMPARE(gotVxmDir, vxmdir);
}

void UpdateIniDataTest::modifyFailsWhenUnwritable() {
    // A regular file where the base directory should be: nothing can be
    // created below it, whatever the user's privileges.
    const QString blocker = m_Base->filePath(QStringLiteral("blocker"));
    QVERIFY(writeFile(blocker, "x"));
    Configuration::overrideUpdaterBaseDir(blocker + QStringLiteral("/base"));
    QVERIFY(!UpdateIniData::modify(1, sessionDir(), QString(), QStringLiteral("t")));
}

void UpdateIniDataTest::modifyTempIniWritesClientType_data() {
    QTest::addColumn<QString>("recordedType");
    QTest::newRow("first pass record") << "update_macosx";
    QTest::newRow("second pass record") << "client_macosx";
}

void UpdateIniDataTest::modifyTempIniWritesClientType() {
    QFETCH(QString, recordedType);
    QVERIFY(UpdateIniData::modify(9, sessionDir(), QStringLiteral("/inst dir/"), recordedType));
    const QString target = m_Base->filePath(QStringLiteral("new updater"));
    QVERIFY(QDir().mkpath(target));
    QVERIFY(UpdateIniData::modifyTempIni(target));

    QSettings copy(target + QStringLiteral("/update.ini"), QSettings::IniFormat);
    QCOMPARE(copy.value("current/version").toInt(), 9);
    QCOMPARE(copy.value("current/dir").toString(), sessionDir());
    QCOMPARE(copy.value("current/vxmdir").toString(), QStringLiteral("/inst dir/"));
    QCOMPARE(copy.value("current/type").toString(), QStringLiteral("client_macosx"));
    QSettings original(iniPath(), QSettings::IniFormat);
    QCOMPARE(original.value("current/type").toString(), recordedType);
}

void UpdateIniDataTest::modifyTempIniWithoutSession() {
    const QString target = m_Base->filePath(QStringLiteral("new updater"));
    QVERIFY(QDir().mkpath(target));
    QVERIFY(!UpdateIniData::modifyTempIni(target));
    QVERIFY(!QFile::exists(target + QStringLiteral("/update.ini")));
}

void UpdateIniDataTest::modifyTempIniFailsWhenUnwritable() {
    QVERIFY(UpdateIniData::modify(9, sessionDir(), QString(), QStringLiteral("update_macosx")));
    const QString blocker = m_Base->filePath(QStringLiteral("blocker"));
    QVERIFY(writeFile(blocker, "x"));
    QVERIFY(!UpdateIniData::modifyTempIni(blocker + QStringLiteral("/sub")));
}

QTEST_GUILESS_MAIN(UpdateIniDataTest)
#include "tst_updateinidata.moc"
