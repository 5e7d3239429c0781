// Directory creation, deletion, rename and the delete list on real files.

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

#include "configuration.h"
#include "dircreatetaskspecification.h"
#include "filedeletetaskspecification.h"
#include "fileopstest.h"
#include "filerenametaskspecification.h"
#include "updatefilelists.h"

class TestFastFileOps : public QObject {
    Q_OBJECT

private slots:
    void dirCreate_data();
    void dirCreate();
    void dirCreateWithoutJournal();
    void fileDelete_data();
    void fileDelete();
    void rename_data();
    void rename();
    void deleteListNeverFails();
    void emptyDeleteListFinishesAtOnce();
};

void TestFastFileOps::dirCreate_data() {
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("dir");
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("journal");

    QTest::newRow("existing directory records nothing")
        << QStringList{"a/"} << "%R/a" << int(Finished) << QStringList() << QStringList();
    QTest::newRow("missing parents are created and recorded first")
        << QStringList{"a/"} << "%R/a/b/c" << int(Finished) << QStringList()
        << QStringList{"2:%R/a/b", "2:%R/a/b/c"};
    QTest::newRow("trailing separator")
        << QStringList() << "%R/t/" << int(Finished) << QStringList() << QStringList{"2:%R/t"};
    QTest::newRow("path is a file")
        << QStringList{"f"} << "%R/f" << int(Failed)
        << QStringList{"Could not create dir '%R/f' because it already exists and is not a dir"}
        << QStringList();
    QTest::newRow("parent is a file")
        << QStringList{"f"} << "%R/f/sub" << int(Failed)
        << QStringList{"Could not create dir '%R/f' because it already exists and is not a dir"}
        << QStringList();
    // A component longer than any file system allows makes the create fail
    // after its parent has been made and recorded.
    const QString tooLong = QStringLiteral("%R/made/") + QString(300, QLatin1Char('n'));
    QTest::newRow("one-level create fails")
        << QStringList() << tooLong << int(Failed) << QStringList{"unable to create dir " + tooLong}
        << QStringList{"2:%R/made"};
    QTest::newRow("bare relative name")
        << QStringList() << "vxm_bare_name" << int(Failed)
        << QStringList{"Could not create dir vxm_bare_name"} << QStringList();
    QTest::newRow("relative parent reached by the climb names the task's path")
        << QStringList() << "vxm_bare_name/sub" << int(Failed)
        << QStringList{"Could not create dir vxm_bare_name/sub"} << QStringList();
}

void TestFastFileOps::dirCreate() {
    QFETCH(QStringList, setup);
    QFETCH(QString, dir);
    QFETCH(int, state);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, journal);

    const TestRoot root;
    QVERIFY(root.create(setup));
    // Relative names resolve against the root, never against the build tree.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root.path(QString())));
    RollbackDataList list;
    DirCreateTaskSpecification task(root.expand(dir), &list, nullptr, 1.0);
    QStringList lines;
    const int ended = runTask(&task, &lines);
    QDir::setCurrent(previous);

    QCOMPARE(ended, state);
    QCOMPARE(lines, root.expand(messages));
    QCOMPARE(describe(list, root), journal);
    if (state == Finished) {
        QVERIFY(QFileInfo(root.expand(dir)).isDir());
    }
    // The journal takes the created directories away again, deepest first.
    QVERIFY(::rollbackAll(&list, nullptr));
    for (const QString &entry : root.expand(journal)) {
        QVERIFY(!QFileInfo::exists(entry.mid(2)));
    }
}

void TestFastFileOps::dirCreateWithoutJournal() {
    const TestRoot root;
    DirCreateTaskSpecification task(root.path(QStringLiteral("x/y")), nullptr, nullptr, 1.0);
    QStringList lines;
    QCOMPARE(runTask(&task, &lines), int(Finished));
    QVERIFY(root.exists(QStringLiteral("x/y")));
}

void TestFastFileOps::fileDelete_data() {
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("mustSucceed");
    QTest::addColumn<bool>("recursive");
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("file") << QStringList{"f"} << "f" << true << false << int(Finished)
                          << QStringList{"Deleted file '%R/f'"} << QStringList{"keep"}
                          << QStringList{"f"};
    QTest::newRow("missing path that need not go")
        << QStringList() << "none" << false << false << int(Finished) << QStringList()
        << QStringList{"keep"} << QStringList();
    QTest::newRow("missing path that must go")
        << QStringList() << "none" << true << false << int(Failed)
        << QStringList{"Could not delete '%R/none'"} << QStringList{"keep"} << QStringList();
    QTest::newRow("empty directory takes its emptied parents along")
        << QStringList{"p/q/c/"} << "p/q/c" << true << false << int(Finished)
        << QStringList{"Deleted directory '%R/p/q/c'"} << QStringList{"keep"} << QStringList{"p"};
    QTest::newRow("climb stops at a parent that is not empty")
        << QStringList{"p/c/", "p/other"} << "p/c" << true << false << int(Finished)
        << QStringList{"Deleted directory '%R/p/c'"} << QStringList{"p/other"}
        << QStringList{"p/c"};
    QTest::newRow("non-empty directory that need not go")
        << QStringList{"d/x"} << "d" << false << false << int(Finished) << QStringList()
        << QStringList{"d/x"} << QStringList();
    QTest::newRow("non-empty directory that must go")
        << QStringList{"d/x"} << "d" << true << false << int(Failed)
        << QStringList{"Could not delete '%R/d'"} << QStringList{"d/x"} << QStringList();
    QTest::newRow("recursive") << QStringList{"d/e/x", "d/y"} << "d" << true << true
                               << int(Finished)
                               << QStringList{"Recursively deleted directory '%R/d'"}
                               << QStringList{"keep"} << QStringList{"d"};
}

void TestFastFileOps::fileDelete() {
    QFETCH(QStringList, setup);
    QFETCH(QString, target);
    QFETCH(bool, mustSucceed);
    QFETCH(bool, recursive);
    QFETCH(int, state);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);

    const TestRoot root;
    QVERIFY(root.create(setup));
    FileDeleteTaskSpecification task(mustSucceed, root.path(target), recursive, nullptr, 1.0);
    QStringList lines;
    QCOMPARE(runTask(&task, &lines), state);
    QCOMPARE(lines, root.expand(messages));
    for (const QString &rel : qAsConst(present)) {
        QVERIFY2(root.exists(rel), qPrintable(rel));
    }
    for (const QString &rel : qAsConst(absent)) {
        QVERIFY2(!root.exists(rel), qPrintable(rel));
    }
}

void TestFastFileOps::rename_data() {
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("journal");

    QTest::newRow("plain") << QStringList{"x"} << "x"
                           << "y" << int(Finished) << QStringList() << QStringList{"0:%R/x>%R/y"};
    QTest::newRow("into a directory that does not exist yet")
        << QStringList{"x"} << "x"
        << "new/y" << int(Finished) << QStringList() << QStringList{"0:%R/x>%R/new/y"};
    QTest::newRow("onto an existing file")
        << QStringList{"x", "y"} << "x"
        << "y" << int(Failed) << QStringList{"Could not rename '%R/x' to '%R/y'"} << QStringList();
    QTest::newRow("missing source")
        << QStringList() << "x"
        << "y" << int(Failed) << QStringList{"Could not rename '%R/x' to '%R/y'"} << QStringList();
}

void TestFastFileOps::rename() {
    QFETCH(QStringList, setup);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(int, state);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, journal);

    const TestRoot root;
    QVERIFY(root.create(setup));
    const QByteArray before = readFile(root.path(from));
    RollbackDataList list;
    FileRenameTaskSpecification task(root.path(from), root.path(to), &list, nullptr, 1.0);
    QStringList lines;
    QCOMPARE(runTask(&task, &lines), state);
    QCOMPARE(lines, root.expand(messages));
    QCOMPARE(describe(list, root), journal);
    if (state != Finished) {
        return;
    }
    QCOMPARE(readFile(root.path(to)), before);
    QVERIFY(::rollbackAll(&list, nullptr));
    QCOMPARE(readFile(root.path(from)), before);
    QVERIFY(!root.exists(to));
}

void TestFastFileOps::deleteListNeverFails() {
    const TestRoot root;
    QVERIFY(root.create({"gone", "full/x", "tree/a/b", "tree/c"}));
    Configuration configuration;
    configuration.m_InstallDir = root.path(QString());
    const QList<DeleteItem> items{
        {"gone", false}, {"missing", false}, {"full", false}, {"tree", true}};
    FileDeleteListTaskSpecification task(&items, &configuration, nullptr, 0.05);
    QStringList lines;
    QCOMPARE(runTask(&task, &lines), int(Finished));
    QCOMPARE(lines, root.expand(QStringList{"Starting deleting files", "Deleted file '%R/gone'",
                                            "Recursively deleted directory '%R/tree'"}));
    QVERIFY(!root.exists(QStringLiteral("gone")));
    QVERIFY(root.exists(QStringLiteral("full/x")));
    QVERIFY(!root.exists(QStringLiteral("tree")));
    QCOMPARE(task.doneFrac(), 0.05);
}

void TestFastFileOps::emptyDeleteListFinishesAtOnce() {
    Configuration configuration;
    configuration.m_InstallDir = QDir::tempPath() + QLatin1Char('/');
    const QList<DeleteItem> items;
    FileDeleteListTaskSpecification task(&items, &configuration, nullptr, 0.05);
    QSignalSpy lines(&task, &TaskSpecification::message);
    task.execute();
    QCOMPARE(task.state(), int(Finished));
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.at(0).at(0).toString(), QStringLiteral("Starting deleting files"));
}

QTEST_GUILESS_MAIN(TestFastFileOps)
#include "tst_fastfileops.moc"
