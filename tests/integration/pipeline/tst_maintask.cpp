#include <QDirIterator>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QUrl>
#include <QtTest>

#include "configuration.h"
#include "downloadtaskspecification.h"
#include "filedeletetaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "inidownloadtaskspecification.h"
#include "maintaskspecification.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "prepostinstalltaskspecification.h"
#include "releasetestsupport.h"
#include "rsacrypt.h"
#include "testhttpserver.h"
#include "updateinidata.h"
#include "updateselfunziptaskspecification.h"

namespace {

using releasetest::kBasePath;
using releasetest::serveTree;

const QString kUpdaterExe = QStringLiteral("SharedSupport/update.app/Contents/MacOS/update");

/// Runs the task to its end on the event loop (bounded wait).
int runToEnd(TaskSpecification *task, QStringList *messages) {
    QObject::connect(task, &TaskSpecification::message,
                     [messages](const QString &text) { messages->append(text); });
    QSignalSpy finished(task, &TaskSpecification::finished);
    QSignalSpy canceled(task, &TaskSpecification::canceled);
    task->execute();
    if (!QTest::qWaitFor([&] { return !finished.isEmpty() || !canceled.isEmpty(); }, 60000)) {
        return -1;
    }
    return task->state();
}

}  // namespace

class MainTaskTest : public QObject {
    Q_OBJECT

    vxmtest::TestHttpServer m_Server;
    QScopedPointer<QTemporaryDir> m_Dir;
    Configuration m_Configuration;
    QNetworkAccessManager m_Manager;

    QString path(const QString &name) const { return m_Dir->filePath(name); }

    void configure(int isClientUpdate) {
        m_Configuration.m_IsClientUpdate = isClientUpdate;
        m_Configuration.m_VersionNumber = 2;
        m_Configuration.m_TempDir = path("temp");
        m_Configuration.m_InstallDir = path("install") + "/";
        updateBaseUrl = m_Server.url(QString::fromLatin1(kBasePath));
    }

private slots:
    void initTestCase() {
        RsaCrypt::registerAlgorithms();
        QVERIFY(m_Server.start());
    }
    void init() {
        m_Dir.reset(new QTemporaryDir);
        QVERIFY(QDir().mkpath(path("temp")) && QDir().mkpath(path("base")));
        Configuration::overrideUpdaterBaseDir(path("base"));
        m_Server.clearRequests();
    }
    void cleanup() { Configuration::overrideUpdaterBaseDir(QString()); }

    void stepsOfEachPass_data() {
        QTest::addColumn<int>("isClientUpdate");
        QTest::addColumn<QString>("opening");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<double>>("weights");
        QTest::newRow("client pass") << 1 << "Starting update process for client"
                                     << QStringList{"IniDownloadTaskSpecification",
                                                    "MakeDownloadReplaceListTaskSpecification",
                                                    "DownloadFileListTaskSpecification",
                                                    "PrePostInstallListTaskSpecification",
                                                    "FileReplaceListTaskSpecification",
                                                    "FileDeleteListTaskSpecification",
                                                    "PrePostInstallListTaskSpecification"}
                                     << QList<double>{0.1, 0.05, 0.4, 0.1, 0.4, 0.05, 0.1};
        QTest::newRow("updater pass") << 0 << "Starting update process for updater"
                                      << QStringList{"IniDownloadTaskSpecification",
                                                     "MakeDownloadReplaceListTaskSpecification",
                                                     "DownloadFileListTaskSpecification",
                                                     "PrePostInstallListTaskSpecification",
                                                     "UpdateSelfUnzipTaskSpecification",
                                                     "PrePostInstallListTaskSpecification"}
                                      << QList<double>{0.1, 0.05, 0.4, 0.1, 0.4, 0.1};
    }
    // Nothing is served: the product ini step fails, every later step stays
    // Idle, the lists stay empty and the installation is not touched.
    void stepsOfEachPass() {
        QFETCH(int, isClientUpdate);
        QFETCH(QStringList, steps);
        QFETCH(QList<double>, weights);
        QVERIFY(releasetest::writeFile(path("install"), "Resources/keep.txt", "unchanged"));
        configure(isClientUpdate);
        MainTaskSpecification task(&m_Manager, &m_Configuration, nullptr, 1.0);
        QStringList messages;
        QCOMPARE(runToEnd(&task, &messages), int(Failed));
        QTEST(messages.value(0), "opening");
        QCOMPARE(task.subtasks().size(), steps.size());
        for (int i = 0; i < steps.size(); ++i) {
            TaskSpecification *step = task.subtasks().at(i);
            QCOMPARE(QString::fromLatin1(step->metaObject()->className()), steps.at(i));
            QCOMPARE(step->weight(), weights.at(i));
            QCOMPARE(step->state(), i == 0 ? int(Failed) : int(Idle));
        }
        QVERIFY(task.lists().downloadList.isEmpty() && task.lists().replaceList.isEmpty());
        QCOMPARE(releasetest::contentsOf(path("install")),
                 (QMap<QString, QByteArray>{{"Resources/keep.txt", "unchanged"}}));

        // A reset and a new run build a fresh set of steps.
        const QPointer<TaskSpecification> first = task.subtasks().at(0);
        task.reset();
        QCOMPARE(task.state(), int(Idle));
        QVERIFY(task.subtasks().isEmpty());
        QCOMPARE(runToEnd(&task, &messages), int(Failed));
        QCOMPARE(task.subtasks().size(), steps.size());
        QVERIFY(first.isNull());  // the old steps were disposed of
    }

    // The client pass installs whole files, containers and deletions, then
    // runs the post-install command with its "--" arguments.
    void clientPassInstallsAndRunsItsCommand() {
        const QString oldTree = path("old"), newTree = path("new");
        QVERIFY(releasetest::makeSampleTrees(oldTree, newTree));
        QVERIFY(releasetest::copyTree(oldTree, path("install")));
        const releasetest::ToolRun run = releasetest::runTool(
            {"build", "--pass", "client", "--version", "2", "--new", newTree, "--old", oldTree,
             "--key", QStringLiteral(VXM_DEMO_PRIVATE_KEY), "--out", path("root"), "--postinstall",
             "post.sh::mode=quiet::dir=/x"});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        serveTree(&m_Server, path("root"));
        // The command is a program of the temporary tree (there, the new
        // updater's tree assembled by the first pass).
        const QString record = path("post-args.txt");
        QVERIFY(releasetest::writeFile(
            path("temp"), "post.sh",
            "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> '" + record.toUtf8() + "'; done\n"));
        QVERIFY(QFile::setPermissions(path("temp/post.sh"),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        configure(1);

        MainTaskSpecification task(&m_Manager, &m_Configuration, nullptr, 1.0);
        QStringList messages;
        QVERIFY2(runToEnd(&task, &messages) == Finished, qPrintable(messages.join('\n')));
        QCOMPARE(releasetest::contentsOf(path("install")), releasetest::contentsOf(newTree));
        QVERIFY(!QFileInfo::exists(path("install/Resources/gone.txt")));
        QCOMPARE(releasetest::readFile(record), QByteArray("--mode=quiet\n--dir=/x\n"));
        QVERIFY(messages.contains(QStringLiteral("post.sh completed sucessfully")));
    }

    // The updater pass assembles the new updater in the temporary tree and
    // leaves the installation as it was.
    void updaterPassAssemblesTheTemporaryTree() {
        const QString oldTree = path("old"), newTree = path("new");
        QVERIFY(releasetest::writeFile(oldTree, kUpdaterExe, releasetest::noise(40000, 1)));
        QByteArray newExe = releasetest::noise(40000, 1);
        newExe.append("new build");
        QVERIFY(releasetest::writeFile(newTree, kUpdaterExe, newExe));
        QVERIFY(releasetest::writeFile(oldTree, "SharedSupport/update.app/Contents/Info.txt", "v"));
        QVERIFY(releasetest::writeFile(newTree, "SharedSupport/update.app/Contents/Info.txt", "v"));
        QVERIFY(releasetest::copyTree(oldTree, path("install")));
        const releasetest::ToolRun run = releasetest::runTool(
            {"build", "--pass", "updater", "--version", "2", "--new", newTree, "--old", oldTree,
             "--key", QStringLiteral(VXM_DEMO_PRIVATE_KEY), "--out", path("root")});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        serveTree(&m_Server, path("root"));
        configure(0);
        QVERIFY(UpdateIniData::modify(2, path("temp"), path("install") + "/", "update_macosx"));

        MainTaskSpecification task(&m_Manager, &m_Configuration, nullptr, 1.0);
        QStringList messages;
        QVERIFY2(runToEnd(&task, &messages) == Finished, qPrintable(messages.join('\n')));
        QCOMPARE(releasetest::readFile(path("temp/") + kUpdaterExe), newExe);
        QCOMPARE(releasetest::readFile(path("temp/SharedSupport/update.app/Contents/Info.txt")),
                 QByteArray("v"));
        QVERIFY(QFileInfo(path("temp/") + kUpdaterExe).isExecutable());
        QVERIFY(QFileInfo(path("temp/SharedSupport/update.app/Contents/Frameworks")).isSymLink());
        QSettings session(path("temp/SharedSupport/update.ini"), QSettings::IniFormat);
        QCOMPARE(session.value("current/type").toString(), QStringLiteral("client_macosx"));
        QCOMPARE(session.value("current/version").toInt(), 2);
        QCOMPARE(releasetest::contentsOf(path("install")), releasetest::contentsOf(oldTree));
    }
};

QTEST_GUILESS_MAIN(MainTaskTest)
#include "tst_maintask.moc"
