#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "configuration.h"
#include "prepostinstalltaskspecification.h"

namespace {

constexpr int kWaitMs = 20000;

/// Writes an executable shell script into dir and returns its name.
QString writeScript(const QString &dir, const QString &name, const QByteArray &body) {
    QFile file(dir + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly)) {
        return {};
    }
    file.write("#!/bin/sh\n" + body + "\n");
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return name;
}

bool waitForEnd(TaskSpecification &task) {
    QSignalSpy finished(&task, &TaskSpecification::finished);
    QSignalSpy canceled(&task, &TaskSpecification::canceled);
    task.execute();
    return QTest::qWaitFor([&] { return !finished.isEmpty() || !canceled.isEmpty(); }, kWaitMs);
}

}  // namespace

class PrePostInstallTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_Temp{QDir::tempPath() + QStringLiteral("/voxmere_temp_XXXXXX")};
    Configuration m_Configuration;

private slots:
    void initTestCase() {
        QVERIFY(m_Temp.isValid());
        m_Configuration.m_TempDir = m_Temp.path();
    }

    void exitCodes_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("required");
        QTest::addColumn<int>("state");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("reboots");

        const QString start = QStringLiteral("Starting cmd");
        QTest::newRow("0 succeeds") << QByteArray("exit 0") << true << int(Finished)
                                    << QStringList{start, "cmd completed sucessfully"} << 0;
        QTest::newRow("1010 asks for a restart")
            << QByteArray("exit 1010") << true << int(Finished)
            << QStringList{start, "cmd completed sucessfully, reboot required"} << 1;
        QTest::newRow("1 fails a required command")
            << QByteArray("exit 1") << true << int(Failed)
            << QStringList{start, "Failed to complete cmd, exit code: 1"} << 0;
        QTest::newRow("1 is tolerated for an optional one")
            << QByteArray("exit 1") << false << int(Finished)
            << QStringList{start, "Failed to complete cmd, exit code: 1"} << 0;
        QTest::newRow("2 fails without a message")
            << QByteArray("exit 2") << true << int(Failed) << QStringList{start} << 0;
        QTest::newRow("a crash fails")
            << QByteArray("kill -SEGV $$") << true << int(Failed) << QStringList{start} << 0;
        QTest::newRow("a crash of an optional command is tolerated")
            << QByteArray("kill -SEGV $$") << false << int(Finished) << QStringList{start} << 0;
        QTest::newRow("output is discarded")
            << QByteArray("yes 0123456789abcdef | head -c 20000000; exit 0") << true
            << int(Finished) << QStringList{start, "cmd completed sucessfully"} << 0;
    }
    void exitCodes() {
        QFETCH(QByteArray, body);
        QFETCH(bool, required);
        InstallCommand command{writeScript(m_Temp.path(), "cmd", body), {}, required};
        PrePostInstallTaskSpecification task(&command, &m_Configuration, nullptr, 0.1);
        QSignalSpy messages(&task, &TaskSpecification::message);
        QSignalSpy reboots(&task, &PrePostInstallTaskSpecification::reboot_with_confirmation);
        QVERIFY(waitForEnd(task));
        QTEST(task.state(), "state");
        QStringList texts;
        for (const QList<QVariant> &args : qAsConst(messages)) {
            texts << args.at(0).toString();
        }
        QTEST(texts, "messages");
        QTEST(int(reboots.count()), "reboots");
    }

    void argumentsGetTheirDashes() {
        const QString out = m_Temp.path() + "/args.txt";
        InstallCommand command{
            writeScript(m_Temp.path(), "argcheck",
                        "for a in \"$@\"; do echo \"$a\" >> '" + out.toUtf8() + "'; done"),
            {"mode=quiet", "dir=/x y"},
            true};
        PrePostInstallTaskSpecification task(&command, &m_Configuration, nullptr, 0.1);
        QVERIFY(waitForEnd(task));
        QCOMPARE(task.state(), int(Finished));
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("--mode=quiet\n--dir=/x y\n"));
    }

    void missingProgram_data() {
        QTest::addColumn<bool>("required");
        QTest::addColumn<int>("state");
        QTest::newRow("required") << true << int(Failed);
        QTest::newRow("optional") << false << int(Finished);
    }
    void missingProgram() {
        QFETCH(bool, required);
        InstallCommand command{"does-not-exist", {}, required};
        PrePostInstallTaskSpecification task(&command, &m_Configuration, nullptr, 0.1);
        QSignalSpy messages(&task, &TaskSpecification::message);
        QVERIFY(waitForEnd(task));
        QTEST(task.state(), "state");
        QCOMPARE(messages.count(), 2);
        QVERIFY(messages.at(1).at(0).toString().startsWith("Failed to start does-not-exist: "));
    }

    void requiredFailureStopsTheList() {
        const QString marker = m_Temp.path() + "/third-ran";
        QList<InstallCommand> commands{
            {"missing-optional", {}, false},
            {writeScript(m_Temp.path(), "fails", "exit 2"), {}, true},
            {writeScript(m_Temp.path(), "third", "touch '" + marker.toUtf8() + "'"), {}, true},
        };
        PrePostInstallListTaskSpecification list(&commands, &m_Configuration, nullptr, 0.1);
        QSignalSpy messages(&list, &TaskSpecification::message);
        QVERIFY(waitForEnd(list));
        QCOMPARE(list.state(), int(Failed));
        QCOMPARE(messages.at(0).at(0).toString(), QStringLiteral("Starting install condition"));
        QCOMPARE(list.subtasks().at(0)->state(), int(Finished));
        QCOMPARE(list.subtasks().at(1)->state(), int(Failed));
        QCOMPARE(list.subtasks().at(2)->state(), int(Idle));
        QVERIFY(!QFileInfo::exists(marker));
    }

    void listReadAtExecuteTime() {
        QList<InstallCommand> commands;
        PrePostInstallListTaskSpecification list(&commands, &m_Configuration, nullptr, 0.1);
        commands << InstallCommand{writeScript(m_Temp.path(), "ok", "exit 0"), {}, true};
        QVERIFY(waitForEnd(list));
        QCOMPARE(list.state(), int(Finished));
        QCOMPARE(list.subtasks().size(), 1);
        QCOMPARE(list.doneFrac(), 0.1);
    }

    void emptyListFinishesWithoutMessage() {
        QList<InstallCommand> commands;
        PrePostInstallListTaskSpecification list(&commands, &m_Configuration, nullptr, 0.1);
        QSignalSpy messages(&list, &TaskSpecification::message);
        QSignalSpy finished(&list, &TaskSpecification::finished);
        list.execute();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(messages.count(), 0);
    }
};

QTEST_MAIN(PrePostInstallTest)
#include "tst_prepostinstall.moc"
