#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

#include "dircreatetaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "filereplacetaskspecification.h"
#include "installfixture.h"

using namespace installfixture;

namespace {

const QString kSection = QStringLiteral("client");

/// Five entries of one installation; the second one's download is a pipe,
/// so that its unpack stays running until the test releases it.
struct FiveFiles {
    explicit FiveFiles(Session &session, bool thirdIsTampered)
        : gate(session.temp("lib/two.gz"), "two, new") {
        // 1: replaces an installed file by a plain copy.
        writeFile(session.temp("bin/one"), "one, new");
        lines.insert("bin/one", Session::plainLine("one, new"));
        list.append(replaceItem(kSection, "bin/one"));
        // 2: replaces an installed executable; held by the pipe.
        list.append(replaceItem(kSection, "lib/two.gz", sha512Hex("two, new"), "lib/two"));
        // 3: replaces an installed file by an unpack.
        writeGzip(session.temp("lib/three.gz"), "three, new");
        list.append(replaceItem(kSection, "lib/three.gz",
                                sha512Hex(thirdIsTampered ? "three, released" : "three, new"),
                                "lib/three"));
        // 4 and 5: new files in directories that do not exist yet.
        writeGzip(session.temp("new/a/four.gz"), "four");
        list.append(replaceItem(kSection, "new/a/four.gz", sha512Hex("four"), "new/a/four"));
        writeFile(session.temp("new/b/five"), "five");
        lines.insert("new/b/five", Session::plainLine("five"));
        list.append(replaceItem(kSection, "new/b/five"));
        session.writeProductIni(kSection, lines);

        writeFile(session.install("bin/one"), "one, installed");
        writeFile(session.install("lib/two"), "two, installed", executableMode());
        writeFile(session.install("lib/three"), "three, installed");
        writeFile(session.install("lib/untouched"), "untouched");
    }

    PipeGate gate;
    QMap<QString, QString> lines;
    QList<ReplaceItem> list;
};

QList<FileReplaceTaskSpecification *> fileTasks(const FileReplaceListTaskSpecification &task) {
    QList<FileReplaceTaskSpecification *> tasks;
    for (TaskSpecification *subtask : task.subtasks()) {
        if (auto *file = qobject_cast<FileReplaceTaskSpecification *>(subtask)) {
            tasks.append(file);
        }
    }
    return tasks;
}

QStringList dirTaskPaths(const FileReplaceListTaskSpecification &task) {
    QStringList paths;
    for (TaskSpecification *subtask : task.subtasks()) {
        if (auto *dir = qobject_cast<DirCreateTaskSpecification *>(subtask)) {
            paths.append(QDir::cleanPath(dir->path()));
        }
    }
    return paths;
}

/// One installation of FiveFiles by the list task.
struct Installation {
    explicit Installation(bool thirdIsTampered)
        : files(session, thirdIsTampered),
          before(snapshot(session.install())),
          task(&files.list, &session.m_Configuration, nullptr, 0.4),
          messages(&task, &TaskSpecification::message) {}

    bool start() {
        task.execute();
        tasks = fileTasks(task);
        return files.gate.isValid() && tasks.size() == files.list.size();
    }
    bool releaseAndWait() { return files.gate.release() && waitForEnd(task); }
    /// The installation is byte for byte as before, the journal is empty and
    /// the undo needed no warning.
    bool isAsBefore() const {
        return snapshot(session.install()) == before && task.rollbackData().isEmpty() &&
               !texts(messages).join('\n').contains("warning:");
    }

    Session session;
    FiveFiles files;
    const QMap<QString, QByteArray> before;
    FileReplaceListTaskSpecification task;
    QSignalSpy messages;
    QList<FileReplaceTaskSpecification *> tasks;
};

}  // namespace

class FileReplaceListTest : public QObject {
    Q_OBJECT

private slots:
    void emptyListFinishesAtOnce() {
        Session session;
        const QList<ReplaceItem> list;
        FileReplaceListTaskSpecification task(&list, &session.m_Configuration, nullptr, 0.4);
        QSignalSpy messages(&task, &TaskSpecification::message);
        task.execute();
        QCOMPARE(task.state(), int(Finished));
        QCOMPARE(task.doneFrac(), 0.4);
        QCOMPARE(texts(messages), QStringList{"Starting file updates"});
        QVERIFY(task.subtasks().isEmpty());
    }

    void directoryTasks_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("dirTasks");
        QTest::addColumn<double>("fileWeight");

        QTest::newRow("all directories exist")
            << QStringList{"top", "lib/x"} << QStringList{} << 1.0 / 2;
        QTest::newRow("two branches below a missing parent, sorted")
            << QStringList{"a/c/f", "a/b/f", "lib/x"} << QStringList{"a/b", "a/c"} << 0.9 / 3;
        QTest::newRow("two entries in one missing directory")
            << QStringList{"n/f", "n/g"} << QStringList{"n"} << 0.9 / 2;
    }
    void directoryTasks() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, dirTasks);
        QFETCH(double, fileWeight);
        Session session;
        QDir().mkpath(session.install("lib"));
        QList<ReplaceItem> list;
        QMap<QString, QString> lines;
        for (const QString &name : names) {
            QVERIFY(writeFile(session.temp(name), name.toUtf8()));
            lines.insert(name, Session::plainLine(name.toUtf8()));
            list.append(replaceItem(kSection, name));
        }
        QVERIFY(session.writeProductIni(kSection, lines));
        FileReplaceListTaskSpecification task(&list, &session.m_Configuration, nullptr, 0.4);

        QVERIFY(runToEnd(task));
        QCOMPARE(task.state(), int(Finished));
        QStringList expected;
        for (const QString &dir : dirTasks) {
            expected.append(session.install(dir));
        }
        QCOMPARE(dirTaskPaths(task), expected);
        for (const TaskSpecification *file : fileTasks(task)) {
            QCOMPARE(file->weight(), fileWeight);
        }
        for (const QString &name : names) {
            QCOMPARE(readFile(session.install(name)), name.toUtf8());
        }
    }

    // The failing third task stops the list; the sibling that is still
    // running completes; then everything is undone.
    void failingThirdOfFiveUndoesEverything() {
        Installation run(true);
        QVERIFY(run.start());
        QCOMPARE(run.tasks.size(), 5);
        QCOMPARE(dirTaskPaths(run.task),
                 (QStringList{run.session.install("new/a"), run.session.install("new/b")}));

        QVERIFY(waitForEnd(*run.tasks[2]));
        QCOMPARE(run.tasks[2]->state(), int(Failed));
        QCOMPARE(run.tasks[0]->state(), int(Finished));
        QCOMPARE(run.tasks[1]->state(), int(Running));
        QCOMPARE(run.task.state(), int(Running));
        QVERIFY(!texts(run.messages).contains("rolling back file updates"));

        QVERIFY(run.releaseAndWait());
        QCOMPARE(run.task.state(), int(Failed));
        QCOMPARE(run.tasks[1]->state(), int(Finished));
        QCOMPARE(run.tasks[3]->state(), int(Idle));
        QCOMPARE(run.tasks[4]->state(), int(Idle));
        const QStringList lines = texts(run.messages);
        const int failure = lines.indexOf(
            QStringLiteral("Signature check failed for %1").arg(run.session.install("lib/three")));
        QVERIFY2(failure >= 0, qPrintable(lines.join('\n')));
        QVERIFY(lines.indexOf("rolling back file updates") > failure);
        QVERIFY(run.isAsBefore());
    }

    void cancelInTheMiddleUndoesEverything() {
        Installation run(false);
        QVERIFY(run.start());
        QVERIFY(waitForEnd(*run.tasks[0]));
        QCOMPARE(run.tasks[0]->state(), int(Finished));
        QVERIFY(!run.task.rollbackData().isEmpty());

        run.task.cancel();
        QVERIFY(run.releaseAndWait());
        QCOMPARE(run.task.state(), int(Canceled));
        QCOMPARE(run.tasks[4]->state(), int(Idle));
        QVERIFY(texts(run.messages).contains("rolling back file updates"));
        QVERIFY(run.isAsBefore());
    }

    void successKeepsTheJournal() {
        Installation run(false);
        QVERIFY(run.start());
        QVERIFY(run.releaseAndWait());
        QCOMPARE(run.task.state(), int(Finished));
        QCOMPARE(readFile(run.session.install("lib/two")), QByteArray("two, new"));
        QCOMPARE(readFile(run.session.install("new/a/four")), QByteArray("four"));
        QCOMPARE(readFile(run.session.install("new/b/five")), QByteArray("five"));
        // new, new/a and new/b; two entries per replaced file, one per new one.
        QCOMPARE(run.task.rollbackData().size(), 3 + 3 * 2 + 2);
    }
};

QTEST_GUILESS_MAIN(FileReplaceListTest)
#include "tst_filereplacelist.moc"
