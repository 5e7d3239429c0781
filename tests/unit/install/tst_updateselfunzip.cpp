#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include "installfixture.h"
#include "updateselfunziptaskspecification.h"

using namespace installfixture;

namespace {

const QString kSection = QStringLiteral("updater");
const QString kBundle = QStringLiteral("SharedSupport/update.app/Contents/");

QFileDevice::Permissions exeBits() {
    return QFileDevice::ExeOwner | QFileDevice::ExeUser | QFileDevice::ExeGroup |
           QFileDevice::ExeOther;
}

/// A first pass: the installed updater's base directory with its session
/// record and translations, and the downloads of a new updater in T.
struct UpdaterRelease {
    explicit UpdaterRelease(Session &session) : m_Session(session) {
        const QString base = session.install("SharedSupport");
        Configuration::overrideUpdaterBaseDir(base);
        QSettings record(base + "/update.ini", QSettings::IniFormat);
        record.setValue("current/version", 7);
        record.setValue("current/dir", session.temp());
        record.setValue("current/vxmdir", session.m_Configuration.m_InstallDir);
        record.setValue("current/type", "update_macosx");
        record.sync();
        writeFile(base + "/translations/update_de.qm", "de, installed");
        writeFile(base + "/translations/update_fr.qm", "fr, installed");
        writeFile(base + "/translations/other.qm", "not the updater's");
        writeFile(session.install(kBundle + "MacOS/update"), "old updater", executableMode());

        addTransform(kBundle + "MacOS/update.gz", kBundle + "MacOS/update", "new updater");
        addTransform("Frameworks/libQt5Core.dylib._lzma2_", "Frameworks/libQt5Core.dylib",
                     "qt core");
        addTransform(kBundle + "Resources/notes.txt.gz", kBundle + "Resources/notes.txt", "notes");
        writeFile(session.temp(kBundle + "Info.plist"), "plist");
        lines.insert(kBundle + "Info.plist", Session::plainLine("plist"));
        list.append(replaceItem(kSection, kBundle + "Info.plist"));
        // The translation the new updater already has is kept.
        writeFile(session.temp("SharedSupport/translations/update_de.qm"), "de, new");
    }
    ~UpdaterRelease() { Configuration::overrideUpdaterBaseDir(QString()); }
    UpdaterRelease(const UpdaterRelease &) = delete;
    UpdaterRelease &operator=(const UpdaterRelease &) = delete;

    void addTransform(const QString &name, const QString &target, const QByteArray &content) {
        if (name.endsWith("._lzma2_")) {
            writeLzma2(m_Session.temp(name), content);
        } else {
            writeGzip(m_Session.temp(name), content);
        }
        list.append(replaceItem(kSection, name, sha512Hex(content), target));
    }
    bool writeProductIni() const { return m_Session.writeProductIni(kSection, lines); }

    Session &m_Session;
    QMap<QString, QString> lines;
    QList<ReplaceItem> list;
};

bool treeIsPrepared(const Session &session) {
    return QFileInfo::exists(session.temp("SharedSupport/update.ini")) ||
           QFileInfo(session.temp(kBundle + "Frameworks")).isSymLink() ||
           QFileInfo(session.temp(kBundle + "Plugins")).isSymLink();
}

}  // namespace

class UpdateSelfUnzipTest : public QObject {
    Q_OBJECT

private slots:
    void buildsTheNewUpdaterTree() {
        Session session(0);
        UpdaterRelease release(session);
        QVERIFY(release.writeProductIni());
        const auto installed = snapshot(session.install());
        UpdateSelfUnzipTaskSpecification task(&release.list, &session.m_Configuration, nullptr,
                                              0.4);
        QVERIFY(runToEnd(task));
        QCOMPARE(task.state(), int(Finished));

        QCOMPARE(readFile(session.temp(kBundle + "MacOS/update")), QByteArray("new updater"));
        QCOMPARE(readFile(session.temp("Frameworks/libQt5Core.dylib")), QByteArray("qt core"));
        QCOMPARE(readFile(session.temp(kBundle + "Resources/notes.txt")), QByteArray("notes"));
        // Executable for everyone, writable by the owner only; other files
        // keep the mode they were written with.
        QCOMPARE(QFile::permissions(session.temp(kBundle + "MacOS/update")), executableMode());
        QCOMPARE(QFile::permissions(session.temp("Frameworks/libQt5Core.dylib")), executableMode());
        QCOMPARE(QFile::permissions(session.temp(kBundle + "Resources/notes.txt")) & exeBits(),
                 QFileDevice::Permissions());
        QCOMPARE(QFile::permissions(session.temp(kBundle + "Info.plist")), plainMode());
        // Whole-file downloads inside the new bundle are gone, others stay.
        QVERIFY(!QFileInfo::exists(session.temp(kBundle + "MacOS/update.gz")));
        QVERIFY(!QFileInfo::exists(session.temp(kBundle + "Resources/notes.txt.gz")));
        QVERIFY(QFileInfo::exists(session.temp(release.list.at(1).name)));

        const QFileInfo frameworks(session.temp(kBundle + "Frameworks"));
        QVERIFY(frameworks.isSymLink());
        QCOMPARE(frameworks.symLinkTarget(), session.temp("Frameworks"));
        // T/Plugins does not exist: the link is made all the same.
        const QFileInfo plugins(session.temp(kBundle + "Plugins"));
        QVERIFY(plugins.isSymLink());
        QVERIFY(!plugins.exists());
        QCOMPARE(plugins.symLinkTarget(), session.temp("Plugins"));

        QSettings record(session.temp("SharedSupport/update.ini"), QSettings::IniFormat);
        QCOMPARE(record.value("current/version").toInt(), 7);
        QCOMPARE(record.value("current/dir").toString(), session.temp());
        QCOMPARE(record.value("current/type").toString(), QStringLiteral("client_macosx"));

        QCOMPARE(readFile(session.temp("SharedSupport/translations/update_de.qm")),
                 QByteArray("de, new"));
        QCOMPARE(readFile(session.temp("SharedSupport/translations/update_fr.qm")),
                 QByteArray("fr, installed"));
        QVERIFY(!QFileInfo::exists(session.temp("SharedSupport/translations/other.qm")));
        QCOMPARE(snapshot(session.install()), installed);
    }

    void emptyListPreparesAtOnce() {
        Session session(0);
        UpdaterRelease release(session);
        const QList<ReplaceItem> list;
        UpdateSelfUnzipTaskSpecification task(&list, &session.m_Configuration, nullptr, 0.4);
        task.execute();
        QCOMPARE(task.state(), int(Finished));
        QVERIFY(task.subtasks().isEmpty());
        QVERIFY(QFileInfo(session.temp(kBundle + "Frameworks")).isSymLink());
        QVERIFY(QFileInfo::exists(session.temp("SharedSupport/update.ini")));
    }

    void unverifiedFilesAreRefused_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("refusedFile");
        QTest::addColumn<QString>("failure");

        QTest::newRow("transform result not as released") << "Frameworks/libQt5Core.dylib"
                                                          << "Frameworks/libQt5Core.dylib"
                                                          << "Signature check failed for %1";
        QTest::newRow("download used unchanged was altered")
            << kBundle + "Info.plist" << kBundle + "Info.plist"
            << "Signature check failed for %1";
        QTest::newRow("download without a product ini line")
            << kBundle + "Info.plist" << QString() << "No hash known for '%1'";
    }
    void unverifiedFilesAreRefused() {
        QFETCH(QString, entry);
        QFETCH(QString, refusedFile);
        QFETCH(QString, failure);
        Session session(0);
        UpdaterRelease release(session);
        for (ReplaceItem &item : release.list) {
            if (item.targetPath() == entry && !item.targetName.isEmpty()) {
                item.finalHash = sha512Hex("what was released");
            }
        }
        if (refusedFile.isEmpty()) {
            release.lines.remove(entry);
        } else if (release.lines.contains(entry)) {
            release.lines[entry] = Session::plainLine("what was released");
        }
        QVERIFY(release.writeProductIni());
        const auto installed = snapshot(session.install());
        UpdateSelfUnzipTaskSpecification task(&release.list, &session.m_Configuration, nullptr,
                                              0.4);
        QSignalSpy messages(&task, &TaskSpecification::message);
        QSignalSpy errors(&task, &TaskSpecification::error);

        QVERIFY(runToEnd(task));
        QCOMPARE(task.state(), int(Failed));
        const QString argument = refusedFile.isEmpty() ? entry : session.temp(refusedFile);
        QVERIFY2(texts(messages).contains(failure.arg(argument)),
                 qPrintable(texts(messages).join('\n')));
        if (!refusedFile.isEmpty()) {
            QVERIFY(!QFileInfo::exists(session.temp(refusedFile)));
        }
        QVERIFY(!treeIsPrepared(session));
        QVERIFY(errors.isEmpty());
        QCOMPARE(snapshot(session.install()), installed);
    }

    void failingPatchStillPreparesAndFails() {
        Session session(0);
        UpdaterRelease release(session);
        QVERIFY(release.writeProductIni());
        const QString target = kBundle + "MacOS/update";
        release.list.first().patchName = target + ".5_patch_";
        QVERIFY(writeFile(session.temp(target + ".5_patch_"), "not a patch"));
        QVERIFY(writeFile(session.temp(target + "_old"), "stale copy"));
        UpdateSelfUnzipTaskSpecification task(&release.list, &session.m_Configuration, nullptr,
                                              0.4);
        QSignalSpy messages(&task, &TaskSpecification::message);

        QVERIFY(runToEnd(task));
        QCOMPARE(task.state(), int(Failed));
        QCOMPARE(readFile(session.temp(target + "_old")), QByteArray("old updater"));
        const QStringList lines = texts(messages);
        QVERIFY(lines.contains("Patching " + target));
        QVERIFY2(lines.contains(QStringLiteral("Could not patch '%1' to '%2'")
                                    .arg(session.temp(target + "_old"), session.temp(target))),
                 qPrintable(lines.join('\n')));
        QVERIFY(treeIsPrepared(session));
    }

    void sessionFileThatCannotBeWrittenFails() {
        Session session(0);
        UpdaterRelease release(session);
        QVERIFY(release.writeProductIni());
        QVERIFY(QFile::remove(session.install("SharedSupport/update.ini")));
        UpdateSelfUnzipTaskSpecification task(&release.list, &session.m_Configuration, nullptr,
                                              0.4);
        QSignalSpy errors(&task, &TaskSpecification::error);
        QVERIFY(runToEnd(task));
        QCOMPARE(task.state(), int(Failed));
        QCOMPARE(texts(errors),
                 QStringList{"Failed to write temp update.ini. The updater does not seem to have "
                             "the required write permissions."});
        QVERIFY(!QFileInfo::exists(session.temp("SharedSupport/translations/update_fr.qm")));
    }
};

QTEST_GUILESS_MAIN(UpdateSelfUnzipTest)
#include "tst_updateselfunzip.moc"
