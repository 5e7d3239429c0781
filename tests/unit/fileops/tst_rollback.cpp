// The rollback journal: undo order, failures that do not stop the undo,
// and the delivery of warnings by name.

#include <QSignalSpy>
#include <QtTest>

#include "fileopstest.h"
#include "rollback.h"

namespace {

/// A receiver with the same message signal every task has.
class Receiver : public QObject {
    Q_OBJECT

signals:
    void message(QString text);
};

/// "op:path", "0:old>path" or "3:kept>path", paths relative to the root.
RollbackData entryFrom(const QString &text, const TestRoot &root) {
    const int op = text.section(QLatin1Char(':'), 0, 0).toInt();
    const QString rest = text.section(QLatin1Char(':'), 1);
    const QString first = root.path(rest.section(QLatin1Char('>'), 0, 0));
    const QString second = root.path(rest.section(QLatin1Char('>'), 1));
    if (op == FILE_RENAME) {
        return RollbackData(op, first, second);
    }
    if (op == FILE_REPLACE) {
        return RollbackData::fileReplace(first, second);
    }
    return RollbackData(op, root.path(rest));
}

QStringList spyTexts(const QSignalSpy &spy) {
    QStringList texts;
    for (const QList<QVariant> &args : spy) {
        texts << args.at(0).toString();
    }
    return texts;
}

}  // namespace

class TestRollback : public QObject {
    Q_OBJECT

private slots:
    void rollbackAll_data();
    void rollbackAll();
    void nullReceiverSwallowsWarnings();
    void receiverWithoutMessageMethod();
    void nullListSucceeds();
};

void TestRollback::rollbackAll_data() {
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("empty list") << QStringList() << QStringList() << true << QStringList()
                                << QStringList{"keep"} << QStringList();
    // Undone oldest first, a and a/b would still hold their content.
    QTest::newRow("nested directories, newest first")
        << QStringList{"a/b/f"} << QStringList{"2:a", "2:a/b", "1:a/b/f"} << true << QStringList()
        << QStringList{"keep"} << QStringList{"a"};
    // f is a non-empty directory, so removing it as a file fails; its
    // parents are still attempted and stay because they are not empty.
    QTest::newRow("failing step still attempts the rest")
        << QStringList{"a/b/f/g"} << QStringList{"2:a", "2:a/b", "1:a/b/f"} << false
        << QStringList{"warning: rollback create file %R/a/b/f failed",
                       "warning: rollback create dir %R/a/b failed",
                       "warning: rollback create dir %R/a failed"}
        << QStringList{"a/b/f/g"} << QStringList();
    QTest::newRow("directory not recorded before its unrecorded file stays")
        << QStringList{"d/x"} << QStringList{"2:d"} << false
        << QStringList{"warning: rollback create dir %R/d failed"} << QStringList{"d/x"}
        << QStringList();
    QTest::newRow("directory recorded with a trailing separator")
        << QStringList{"d/"} << QStringList{"2:d/"} << true << QStringList() << QStringList()
        << QStringList{"d"};
    QTest::newRow("rename is undone backwards")
        << QStringList{"y"} << QStringList{"0:x>y"} << true << QStringList() << QStringList{"x"}
        << QStringList{"y"};
    QTest::newRow("failed rename undo names the recorded direction")
        << QStringList() << QStringList{"0:x>y"} << false
        << QStringList{"warning: rollback rename %R/x to %R/y failed"} << QStringList()
        << QStringList{"x", "y"};
    QTest::newRow("replaced file comes back after the new one is removed")
        << QStringList{"kept", "p"} << QStringList{"3:kept>p", "1:p"} << true << QStringList()
        << QStringList{"p"} << QStringList{"kept"};
    QTest::newRow("replaced file comes back over an unrecorded write")
        << QStringList{"kept", "p"} << QStringList{"3:kept>p"} << true << QStringList()
        << QStringList{"p"} << QStringList{"kept"};
    QTest::newRow("missing kept file leaves the path alone")
        << QStringList{"p"} << QStringList{"3:kept>p"} << false
        << QStringList{"warning: rollback restore %R/p from %R/kept failed"} << QStringList{"p"}
        << QStringList();
    QTest::newRow("file already gone") << QStringList() << QStringList{"1:f"} << false
                                       << QStringList{"warning: rollback create file %R/f failed"}
                                       << QStringList() << QStringList();
}

void TestRollback::rollbackAll() {
    QFETCH(QStringList, setup);
    QFETCH(QStringList, entries);
    QFETCH(bool, ok);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);

    const TestRoot root;
    QVERIFY(root.create(setup));
    RollbackDataList list;
    for (const QString &text : qAsConst(entries)) {
        list.append(entryFrom(text, root));
    }
    Receiver receiver;
    QSignalSpy spy(&receiver, &Receiver::message);

    QCOMPARE(::rollbackAll(&list, &receiver), ok);

    QVERIFY(list.isEmpty());
    QCOMPARE(spyTexts(spy), root.expand(messages));
    for (const QString &rel : qAsConst(present)) {
        QVERIFY2(root.exists(rel), qPrintable(rel));
    }
    for (const QString &rel : qAsConst(absent)) {
        QVERIFY2(!root.exists(rel), qPrintable(rel));
    }
    // A restored file carries the kept file's content.
    if (entries.contains(QStringLiteral("3:kept>p")) && ok) {
        QCOMPARE(readFile(root.path(QStringLiteral("p"))), QByteArray("kept"));
    }
}

void TestRollback::nullReceiverSwallowsWarnings() {
    const TestRoot root;
    const LogCapture log;
    RollbackData entry(FILE_CREATE, root.path(QStringLiteral("missing")));
    QVERIFY(!entry.rollback(nullptr));
    RollbackData::message(nullptr, QStringLiteral("dropped"));
    QVERIFY(log.lines().isEmpty());
}

void TestRollback::receiverWithoutMessageMethod() {
    const LogCapture log;
    QObject plain;
    RollbackData::message(&plain, QStringLiteral("nowhere"));
    QVERIFY(
        log.contains(QStringLiteral("Warning: message signal was not found in "
                                    "RollbackData::message")));
}

void TestRollback::nullListSucceeds() {
    Receiver receiver;
    QSignalSpy spy(&receiver, &Receiver::message);
    QVERIFY(::rollbackAll(nullptr, &receiver));
    QVERIFY(spy.isEmpty());
}

QTEST_GUILESS_MAIN(TestRollback)
#include "tst_rollback.moc"
