#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

#include "installfixture.h"
#include "rollback.h"
#include "taskspecification.h"

using namespace installfixture;

namespace {

/// Receives the undo's warnings.
class Receiver : public TaskSpecification {
    Q_OBJECT

public:
    Receiver() : TaskSpecification(nullptr, 1.0) {}
    void execute() override {}
};

}  // namespace

class RollbackReplaceTest : public QObject {
    Q_OBJECT

private slots:
    void undoPutsTheFormerFileBack_data() {
        QTest::addColumn<QByteArray>("atPath");
        QTest::addColumn<bool>("pathExists");

        QTest::newRow("nothing at the path") << QByteArray() << false;
        QTest::newRow("a partial write at the path") << QByteArray("half") << true;
    }
    void undoPutsTheFormerFileBack() {
        QFETCH(QByteArray, atPath);
        QFETCH(bool, pathExists);
        Session session;
        const QString path = session.install("bin/tool");
        const QString kept = session.temp("kept/bin/tool");
        QVERIFY(writeFile(kept, "former", executableMode()));
        if (pathExists) {
            QVERIFY(writeFile(path, atPath));
        } else {
            QDir().mkpath(session.install("bin"));
        }
        RollbackDataList journal{RollbackData::fileReplace(kept, path)};
        QCOMPARE(journal.first().m_Op, int(FILE_REPLACE));
        Receiver receiver;
        QSignalSpy messages(&receiver, &TaskSpecification::message);

        QVERIFY(rollbackAll(&journal, &receiver));
        QCOMPARE(readFile(path), QByteArray("former"));
        QCOMPARE(QFile::permissions(path), executableMode());
        QVERIFY(!QFileInfo::exists(kept));
        QVERIFY(messages.isEmpty());
    }

    void missingKeptFileIsReported() {
        Session session;
        const QString path = session.install("bin/tool");
        const QString kept = session.temp("kept/bin/tool");
        QVERIFY(writeFile(path, "new"));
        RollbackDataList journal{RollbackData(FILE_CREATE, session.install("other")),
                                 RollbackData::fileReplace(kept, path)};
        QVERIFY(writeFile(session.install("other"), "x"));
        Receiver receiver;
        QSignalSpy messages(&receiver, &TaskSpecification::message);

        QVERIFY(!rollbackAll(&journal, &receiver));
        // Without the kept file the path keeps what it holds, and the failing
        // entry does not stop the older one from being undone.
        QCOMPARE(readFile(path), QByteArray("new"));
        QVERIFY(!QFileInfo::exists(session.install("other")));
        QCOMPARE(
            texts(messages),
            QStringList{
                QStringLiteral("warning: rollback restore %1 from %2 failed").arg(path, kept)});
    }
};

QTEST_GUILESS_MAIN(RollbackReplaceTest)
#include "tst_rollbackreplace.moc"
