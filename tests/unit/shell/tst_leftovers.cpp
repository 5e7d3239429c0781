#include <QDir>
#include <QFile>
#include <QtTest>

#include "startup.h"
#include "updateengine.h"

namespace {

void touch(const QString &path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
}

}  // namespace

// A client bundle in a temporary directory: Contents/SharedSupport is the
// updater base directory, Contents/Frameworks the client's frameworks.
class LeftoversTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_Root{QDir::tempPath() + QStringLiteral("/bundle-XXXXXX")};
    QString m_Base;
    QString m_Frameworks;

private slots:
    void init() {
        QVERIFY(m_Root.isValid());
        QDir(m_Root.path()).removeRecursively();
        m_Base = m_Root.path() + QStringLiteral("/Contents/SharedSupport/");
        m_Frameworks = m_Root.path() + QStringLiteral("/Contents/Frameworks/");
        QVERIFY(QDir().mkpath(m_Base));
        QVERIFY(QDir().mkpath(m_Frameworks));
    }

    void removeOldFilesTakesOnlyListedNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("removed");
        QTest::newRow("_old_update") << "_old_update" << true;
        QTest::newRow("_old_libQt5Core") << "_old_libQt5Core.so.5" << true;
        QTest::newRow("_old_libsqlite") << "_old_libsqlite.so" << true;
        QTest::newRow("_old_ of an unknown name") << "_old_readme.txt" << false;
        QTest::newRow("the live updater") << "update" << false;
    }
    void removeOldFilesTakesOnlyListedNames() {
        QFETCH(QString, name);
        touch(m_Base + name);
        UpdateEngine::removeOldFiles(m_Base);
        QTEST(!QFileInfo::exists(m_Base + name), "removed");
    }

    void removeQt4Files() {
        touch(m_Frameworks + "QtCore.framework/Versions/4/QtCore");
        touch(m_Frameworks + "QtNetwork.framework/QtNetwork");
        touch(m_Frameworks + "QtWebEngineCore.framework/x");  // not a Qt 4 framework
        const QString toolFrameworks = m_Base + "crash_sender.app/Contents/Frameworks/";
        QVERIFY(QDir().mkpath(toolFrameworks));
        QVERIFY(
            QFile::link(m_Frameworks + "QtCore.framework", toolFrameworks + "QtCore.framework"));
        QVERIFY(QFile::link(m_Frameworks + "missing", toolFrameworks + "QtGui.framework"));
        touch(m_Base + "update.app/Contents/Frameworks/QtSql.framework/real");  // a real directory

        UpdateEngine::removeQt4Files(m_Base);

        QVERIFY(!QFileInfo::exists(m_Frameworks + "QtCore.framework"));
        QVERIFY(!QFileInfo::exists(m_Frameworks + "QtNetwork.framework"));
        QVERIFY(QFileInfo::exists(m_Frameworks + "QtWebEngineCore.framework/x"));
        QVERIFY(!QFileInfo(toolFrameworks + "QtCore.framework").isSymLink());
        QVERIFY(!QFileInfo(toolFrameworks + "QtGui.framework").isSymLink());
        QVERIFY(QFileInfo::exists(m_Base + "update.app/Contents/Frameworks/QtSql.framework/real"));
    }

    void oldDirectoryRule_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("oldRemains");
        QTest::newRow("empty old is removed") << QStringList{} << false;
        QTest::newRow("old emptied by the clean-up is removed")
            << QStringList{"old/_old_update", "old/_old_libqgif.so"} << false;
        QTest::newRow("old with other files stays") << QStringList{"old/notes.txt"} << true;
    }
    void oldDirectoryRule() {
        QFETCH(QStringList, files);
        QVERIFY(QDir().mkpath(m_Base + "old"));
        for (const QString &file : files) {
            touch(m_Base + file);
        }
        touch(m_Base + "imageformats/_old_libqjpeg.so");
        removeLeftovers(m_Base);
        QTEST(QFileInfo::exists(m_Base + "old"), "oldRemains");
        QVERIFY(!QFileInfo::exists(m_Base + "imageformats/_old_libqjpeg.so"));
    }

    void removeDirRecursivelyNeverFollowsLinks() {
        const QString victim = m_Root.path() + "/victim";
        touch(victim + "/keep.txt");
        const QString dir = m_Root.path() + "/voxmere_temp_0";
        touch(dir + "/a/b/.hidden");
        touch(dir + "/top");
        QVERIFY(QFile::link(victim, dir + "/a/link"));
        UpdateEngine::removeDirRecursively(dir);
        QVERIFY(QFileInfo(dir).isDir());
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                     QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(QFileInfo::exists(victim + "/keep.txt"));
    }
};

QTEST_GUILESS_MAIN(LeftoversTest)
#include "tst_leftovers.moc"
