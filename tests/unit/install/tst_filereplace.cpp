#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

#include "filereplacetaskspecification.h"
#include "installfixture.h"

using namespace installfixture;

namespace {

const QString kSection = QStringLiteral("client");

/// How a test lays out the download of an entry.
enum Download { Plain, Gzip, Lzma2 };

bool writeDownload(const QString &path, Download kind, const QByteArray &content) {
    switch (kind) {
        case Gzip:
            return writeGzip(path, content);
        case Lzma2:
            return writeLzma2(path, content);
        case Plain:
            break;
    }
    return writeFile(path, content);
}

QStringList subtaskClasses(const ComposedTaskSpecification &task) {
    QStringList names;
    for (const TaskSpecification *subtask : task.subtasks()) {
        names.append(QString::fromLatin1(subtask->metaObject()->className()) +
                     QStringLiteral(" %1").arg(subtask->weight()));
    }
    return names;
}

QList<int> journalKinds(const RollbackDataList &journal) {
    QList<int> kinds;
    for (const RollbackData &entry : journal) {
        kinds.append(entry.m_Op);
    }
    return kinds;
}

}  // namespace

Q_DECLARE_METATYPE(Download)

class FileReplaceTest : public QObject {
    Q_OBJECT

private slots:
    void routes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("targetName");
        QTest::addColumn<QString>("patchName");
        QTest::addColumn<QStringList>("subtasks");

        const QString check = QStringLiteral("CheckSignatureTaskSpecification 0.2");
        QTest::newRow("no target name: copy")
            << "readme.txt" << QString() << QString()
            << QStringList{"FileCopyTaskSpecification 0.8", check};
        QTest::newRow("._lzma2_: container unpack")
            << "bin/app._lzma2_"
            << "bin/app" << QString()
            << QStringList{"FileUnpackTaskSpecification_lzma2 0.8", check};
        QTest::newRow("other suffix: gzip unpack")
            << "bin/app.gz"
            << "bin/app" << QString() << QStringList{"FileUnpackTaskSpecification_zip 0.8", check};
        QTest::newRow("no dot at all: gzip unpack")
            << "bin/appdata"
            << "bin/app" << QString() << QStringList{"FileUnpackTaskSpecification_zip 0.8", check};
        QTest::newRow("_lzma2_ not last: gzip unpack")
            << "bin/app._lzma2_.old"
            << "bin/app" << QString() << QStringList{"FileUnpackTaskSpecification_zip 0.8", check};
        QTest::newRow("patch name: patch")
            << "bin/app._lzma2_"
            << "bin/app"
            << "bin/app.7_patch_" << QStringList{"FileTaskSpecification_patch 0.8", check};
    }
    void routes() {
        QFETCH(QString, name);
        QFETCH(QString, targetName);
        QFETCH(QString, patchName);
        QFETCH(QStringList, subtasks);
        Session session;
        QVERIFY(session.writeProductIni(kSection, {{name, Session::plainLine("x")}}));
        const QString hash = targetName.isEmpty() ? QString() : sha512Hex("x");
        RollbackDataList journal;
        FileReplaceTaskSpecification task(replaceItem(kSection, name, hash, targetName, patchName),
                                          &journal, &session.m_Configuration, nullptr, 0.5);
        task.execute();
        QCOMPARE(subtaskClasses(task), subtasks);
        // Nothing was downloaded: every route fails and leaves nothing behind.
        QVERIFY(waitForEnd(task));
        QCOMPARE(task.state(), int(Failed));
        QVERIFY(journal.isEmpty());
        QVERIFY(snapshot(session.install()).isEmpty());
    }

    void installs_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("targetName");
        QTest::addColumn<Download>("download");
        QTest::addColumn<bool>("replacesFile");
        QTest::addColumn<QString>("installedAt");

        QTest::newRow("copy of a new file")
            << kSection << "docs/readme.txt" << QString() << Plain << false << "docs/readme.txt";
        QTest::newRow("copy over an installed file")
            << kSection << "docs/readme.txt" << QString() << Plain << true << "docs/readme.txt";
        QTest::newRow("gzip unpack over an installed file")
            << kSection << "bin/tool.gz"
            << "bin/tool" << Gzip << true << "bin/tool";
        QTest::newRow("container unpack of a new file")
            << kSection << "bin/tool._lzma2_"
            << "bin/tool" << Lzma2 << false << "bin/tool";
        QTest::newRow("container unpack over an installed file")
            << kSection << "bin/tool._lzma2_"
            << "bin/tool" << Lzma2 << true << "bin/tool";
        QTest::newRow("common_client goes under SharedSupport/")
            << "common_client"
            << "x/y" << QString() << Plain << false << "SharedSupport/x/y";
    }
    void installs() {
        QFETCH(QString, section);
        QFETCH(QString, name);
        QFETCH(QString, targetName);
        QFETCH(Download, download);
        QFETCH(bool, replacesFile);
        QFETCH(QString, installedAt);
        Session session;
        const QByteArray content = "new content of " + installedAt.toUtf8();
        QVERIFY(writeDownload(session.temp(name), download, content));
        QVERIFY(session.writeProductIni(section, {{name, Session::plainLine(content)}}));
        const QString installed = session.install(installedAt);
        QVERIFY(writeFile(installed, "former content"));
        if (!replacesFile) {
            QVERIFY(QFile::remove(installed));
        }
        const QString hash = targetName.isEmpty() ? QString() : sha512Hex(content);
        RollbackDataList journal{RollbackData(DIR_CREATE, session.install("earlier"))};
        FileReplaceTaskSpecification task(replaceItem(section, name, hash, targetName), &journal,
                                          &session.m_Configuration, nullptr, 0.5);
        QSignalSpy messages(&task, &TaskSpecification::message);

        QVERIFY(runToEnd(task));
        QCOMPARE(task.state(), int(Finished));
        QCOMPARE(texts(messages).value(0), QStringLiteral("add/replace %1").arg(name));
        QCOMPARE(readFile(installed), content);
        // The journal grew by this file's entries only, in order, and the
        // task kept none of them.
        const QList<int> added =
            replacesFile ? QList<int>{FILE_REPLACE, FILE_CREATE} : QList<int>{FILE_CREATE};
        QCOMPARE(journalKinds(journal), QList<int>{DIR_CREATE} + added);
        QCOMPARE(QFileInfo(journal.last().m_Path).canonicalFilePath(),
                 QFileInfo(installed).canonicalFilePath());
        QVERIFY(task.localRollback().isEmpty());

        // Undoing the journal leaves the installation as it was before.
        rollbackAll(&journal, &task);
        QCOMPARE(QFileInfo::exists(installed), replacesFile);
        if (replacesFile) {
            QCOMPARE(readFile(installed), QByteArray("former content"));
        }
    }

    void refused_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("targetName");
        QTest::addColumn<QString>("patchName");
        QTest::addColumn<Download>("download");
        QTest::addColumn<bool>("tamperedHash");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QString>("failure");

        QTest::newRow("copy whose download was altered")
            << "bin/tool" << QString() << QString() << Plain << true << true
            << "Signature check failed for {dst}";
        QTest::newRow("gzip unpack with a wrong result")
            << "bin/tool.gz"
            << "bin/tool" << QString() << Gzip << true << true
            << "Signature check failed for {dst}";
        QTest::newRow("container unpack with a wrong result")
            << "bin/tool._lzma2_"
            << "bin/tool" << QString() << Lzma2 << true << true
            << "Signature check failed for {dst}";
        QTest::newRow("damaged gzip stream") << "bin/tool.gz"
                                             << "bin/tool" << QString() << Plain << false << true
                                             << "Could not unzip '{src}' to '{dst}'";
        QTest::newRow("patch that does not apply") << "bin/tool._lzma2_"
                                                   << "bin/tool"
                                                   << "bin/tool.3_patch_" << Plain << false << true
                                                   << "Could not patch '{old}' to '{dst}'";
        QTest::newRow("copy without a product ini line")
            << "bin/tool" << QString() << QString() << Plain << false << false
            << "No hash known for 'bin/tool'";
    }
    void refused() {
        QFETCH(QString, name);
        QFETCH(QString, targetName);
        QFETCH(QString, patchName);
        QFETCH(Download, download);
        QFETCH(bool, tamperedHash);
        QFETCH(bool, listed);
        QFETCH(QString, failure);
        Session session;
        const QByteArray content = "new tool";
        // A gzip stream cut off after its header stands for a damaged one.
        const QByteArray written = download == Plain && !targetName.isEmpty()
                                       ? QByteArray::fromHex("1f8b0800000000000003")
                                       : content;
        QVERIFY(writeDownload(session.temp(name), download, written));
        if (!patchName.isEmpty()) {
            QVERIFY(writeFile(session.temp(patchName), "not a patch"));
        }
        const QString hash = sha512Hex(tamperedHash ? QByteArray("what was released") : content);
        if (listed) {
            QVERIFY(session.writeProductIni(kSection, {{name, hash + "::8"}}));
        }
        QVERIFY(writeFile(session.install("bin/tool"), "installed tool", executableMode()));
        QVERIFY(writeFile(session.install("bin/other"), "other"));
        const auto before = snapshot(session.install());
        RollbackDataList journal;
        FileReplaceTaskSpecification task(
            replaceItem(kSection, name, targetName.isEmpty() ? QString() : hash, targetName,
                        patchName),
            &journal, &session.m_Configuration, nullptr, 0.5);
        QSignalSpy messages(&task, &TaskSpecification::message);

        QVERIFY(runToEnd(task));
        QCOMPARE(task.state(), int(Failed));
        const QString dst = session.install() + QStringLiteral("/bin/tool");
        failure.replace("{dst}", dst)
            .replace("{src}", session.temp(name))
            .replace("{old}", session.temp("bin/tool_old"));
        QVERIFY2(texts(messages).contains(failure), qPrintable(texts(messages).join('\n')));
        QCOMPARE(snapshot(session.install()), before);
        QVERIFY(journal.isEmpty());
        QVERIFY(task.localRollback().isEmpty());
    }

    void staleOldCopyIsReplaced() {
        Session session;
        QVERIFY(writeFile(session.install("bin/app"), "installed app"));
        QVERIFY(writeFile(session.temp("bin/app_old"), "stale copy of an earlier run"));
        QVERIFY(writeFile(session.temp("bin/app.7_patch_"), "patch"));
        RollbackDataList journal;
        FileReplaceTaskSpecification task(replaceItem(kSection, "bin/app._lzma2_", sha512Hex("app"),
                                                      "bin/app", "bin/app.7_patch_"),
                                          &journal, &session.m_Configuration, nullptr, 0.5);
        QSignalSpy messages(&task, &TaskSpecification::message);
        task.execute();
        QCOMPARE(readFile(session.temp("bin/app_old")), QByteArray("installed app"));
        QVERIFY(texts(messages).contains("Patching bin/app"));
        QVERIFY(waitForEnd(task));
    }

    void executableCheck_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("executable");

        QTest::newRow("update") << "update" << true;
        QTest::newRow("update.app is not update") << "update.app" << false;
        QTest::newRow("names are case-sensitive") << "Update" << false;
        QTest::newRow("vxmclient_mac") << "vxmclient_mac" << true;
        QTest::newRow("QtWebEngineProcess") << "QtWebEngineProcess" << true;
        QTest::newRow("libQt5WebEngineWidgets") << "libQt5WebEngineWidgets" << true;
        QTest::newRow("dylib suffix") << "libfoo.dylib" << true;
        QTest::newRow("complete suffix 1.dylib") << "libfoo.1.dylib" << false;
        QTest::newRow("other file") << "readme.txt" << false;
    }
    void executableCheck() {
        QFETCH(QString, fileName);
        QFETCH(bool, executable);
        Session session;
        const QString path = session.install("dir/" + fileName);
        const QFileDevice::Permissions worldWritable =
            executableMode() | QFileDevice::WriteGroup | QFileDevice::WriteOther;
        for (const QFileDevice::Permissions mode : {plainMode(), worldWritable}) {
            QVERIFY(writeFile(path, "x", mode));
            FileReplaceTaskSpecification::makeSingleFileExecutable(path);
            // Executable for everyone, writable by the owner only.
            QCOMPARE(QFile::permissions(path), executable ? executableMode() : mode);
        }
    }

    void installedExecutableGetsItsMode() {
        Session session;
        const QByteArray content = "client binary";
        QVERIFY(writeFile(session.temp("MacOS/vxmclient_mac"), content));
        QVERIFY(session.writeProductIni(kSection,
                                        {{"MacOS/vxmclient_mac", Session::plainLine(content)}}));
        QVERIFY(QDir().mkpath(session.install("MacOS")));
        RollbackDataList journal;
        FileReplaceTaskSpecification task(replaceItem(kSection, "MacOS/vxmclient_mac"), &journal,
                                          &session.m_Configuration, nullptr, 0.5);
        QVERIFY(runToEnd(task));
        QCOMPARE(task.state(), int(Finished));
        QCOMPARE(QFile::permissions(session.install("MacOS/vxmclient_mac")), executableMode());
    }
};

QTEST_GUILESS_MAIN(FileReplaceTest)
#include "tst_filereplace.moc"
