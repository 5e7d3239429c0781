#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include "updatelog.h"

namespace {

const QRegularExpression kLinePattern(QStringLiteral(
    R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}\t\|\t(Debug|Info|Warning|Critical|Fatal)\t\|\t.*$)"));

QString logDir() {
    return QDir::tempPath() + QStringLiteral("/voxmere_update_log/");
}

QStringList logFiles() {
    return QDir(logDir()).entryList({"update__*.log"}, QDir::Files);
}

QStringList readLines(const QString &fileName) {
    QFile file(logDir() + fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

struct Run {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QByteArray output;
};

Run runProgram(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.status = process.exitStatus();
    run.output = process.readAll();
    return run;
}

void createMarker(bool asDirectory) {
    const QString marker = QDir::tempPath() + QStringLiteral("/vxm_update_log");
    if (asDirectory) {
        QVERIFY(QDir().mkpath(marker));
    } else {
        QFile file(marker);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

}  // namespace

class UpdateLogTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QDir(logDir()).removeRecursively();
        QFile::remove(QDir::tempPath() + QStringLiteral("/vxm_update_log"));
        QDir(QDir::tempPath() + QStringLiteral("/vxm_update_log")).removeRecursively();
    }

    void fileName() {
        const QDateTime start(QDate(2018, 3, 5), QTime(14, 22, 7));
        QCOMPARE(UpdateLog::fileNameFor(start), QStringLiteral("update__2018-03-05__14_22_07.log"));
    }

    void lineFormat_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray stamp("2018-03-05 14:22:07:009");
        QTest::newRow("debug") << int(QtDebugMsg) << stamp + "\t|\tDebug\t|\tmsg\n";
        QTest::newRow("info") << int(QtInfoMsg) << stamp + "\t|\tInfo\t|\tmsg\n";
        QTest::newRow("warning") << int(QtWarningMsg) << stamp + "\t|\tWarning\t|\tmsg\n";
        QTest::newRow("critical") << int(QtCriticalMsg) << stamp + "\t|\tCritical\t|\tmsg\n";
        QTest::newRow("fatal") << int(QtFatalMsg) << stamp + "\t|\tFatal\t|\tmsg\n";
    }
    void lineFormat() {
        QFETCH(int, type);
        const QDateTime time(QDate(2018, 3, 5), QTime(14, 22, 7, 9));
        QTEST(UpdateLog::formatLine(QtMsgType(type), time, QStringLiteral("msg")), "expected");
    }

    // One cache fed instants in a row, as the log feeds it: repeated and
    // later milliseconds of one second, the next second, a jump back and a
    // jump by days; every stamp must read as the direct local conversion.
    void stampCacheMatchesLocalTime() {
        const qint64 base = QDateTime(QDate(2018, 3, 5), QTime(14, 22, 7)).toMSecsSinceEpoch();
        const qint64 offsets[] = {0, 9, 9, 999, 1000, 1001, 59999, 60000, 1, 86400000 * 200LL + 5};
        UpdateLog::StampCache cache;
        for (const qint64 offset : offsets) {
            const qint64 instant = base + offset;
            const QByteArray expected = QDateTime::fromMSecsSinceEpoch(instant)
                                            .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz"))
                                            .toLocal8Bit();
            QCOMPARE(cache.at(instant), expected);
        }
    }

    void noMarkerWritesNothing() {
        const Run run = runProgram(QStringLiteral(VXM_LOG_CHILD), {});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.output, QByteArray());
        QVERIFY(!QFileInfo::exists(logDir()));
    }

    void markerEnablesLogging_data() {
        QTest::addColumn<bool>("markerIsDirectory");
        QTest::newRow("file marker") << false;
        QTest::newRow("directory marker") << true;
    }
    void markerEnablesLogging() {
        QFETCH(bool, markerIsDirectory);
        createMarker(markerIsDirectory);
        const Run run = runProgram(QStringLiteral(VXM_LOG_CHILD), {});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.output, QByteArray());  // nothing on the console
        const QStringList files = logFiles();
        QCOMPARE(files.size(), 1);
        const QStringList lines = readLines(files.first());
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).endsWith(QStringLiteral("\t|\tDebug\t|\tplain")));
        QVERIFY(lines.at(1).endsWith(QStringLiteral("\t|\tWarning\t|\twarned")));
    }

    void existingDirectoryKeepsOlderFiles() {
        createMarker(false);
        QVERIFY(QDir().mkpath(logDir()));
        QFile older(logDir() + QStringLiteral("update__2001-01-01__00_00_00.log"));
        QVERIFY(older.open(QIODevice::WriteOnly));
        older.close();
        QCOMPARE(runProgram(QStringLiteral(VXM_LOG_CHILD), {}).exitCode, 0);
        QCOMPARE(logFiles().size(), 2);
    }

    void fatalIsTheLastLine() {
        createMarker(false);
        const Run run = runProgram(QStringLiteral(VXM_LOG_CHILD), {"fatal"});
        QCOMPARE(run.status, QProcess::CrashExit);
        const QStringList lines = readLines(logFiles().value(0));
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.last().endsWith(QStringLiteral("\t|\tFatal\t|\tthe end")));
    }

    void threadsNeverMixLines() {
        createMarker(false);
        QCOMPARE(runProgram(QStringLiteral(VXM_LOG_CHILD), {"threads"}).exitCode, 0);
        const QStringList lines = readLines(logFiles().value(0));
        QCOMPARE(lines.size(), 802);
        for (const QString &line : lines) {
            QVERIFY2(kLinePattern.match(line).hasMatch(), qPrintable(line));
        }
        QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("thread 3 line \\d+ with"))).size(),
                 200);
    }

    // Lines written in a batch: the same lines in the same order, in the file
    // as soon as the batch ends or flushNow() is called inside it (the child
    // checks that before closing the log), and a fatal message inside a
    // batch still ends the file with every line before it.
    void batchKeepsLinesAndOrder_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("fatal");
        QTest::newRow("batch ends") << QStringLiteral("batch") << false;
        QTest::newRow("fatal inside") << QStringLiteral("batch-fatal") << true;
        QTest::newRow("flushed inside") << QStringLiteral("batch-flush") << false;
    }
    void batchKeepsLinesAndOrder() {
        QFETCH(QString, mode);
        QFETCH(bool, fatal);
        createMarker(false);
        const Run run = runProgram(QStringLiteral(VXM_LOG_CHILD), {mode});
        QCOMPARE(run.status, fatal ? QProcess::CrashExit : QProcess::NormalExit);
        if (!fatal) {
            QCOMPARE(run.exitCode, 0);
        }
        const QStringList lines = readLines(logFiles().value(0));
        QCOMPARE(lines.size(), fatal ? 301 : 300);
        for (int i = 0; i < 300; ++i) {
            QVERIFY2(lines.at(i).endsWith(
                         QStringLiteral("\t|\tInfo\t|\tbatched line %1 with some padding to make "
                                        "the line longer")
                             .arg(i)),
                     qPrintable(lines.at(i)));
        }
        if (fatal) {
            QVERIFY(lines.last().endsWith(QStringLiteral("\t|\tFatal\t|\tthe end")));
        }
    }

    // As a user would: the real updater with a version that is not a number.
    void rejectedCommandLineOfTheUpdater() {
        createMarker(false);
        // The rejection is shown in a box, answered as a person would.
        const Run run =
            runProgram(QStringLiteral(VXM_ANSWER_BOX),
                       {"Error", VXM_UPDATE_BINARY, "--nouser", "update_macosx", "abc"});
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 1);
        const QStringList files = logFiles();
        QCOMPARE(files.size(), 1);
        QVERIFY(
            QRegularExpression(QStringLiteral(R"(^update__\d{4}-\d\d-\d\d__\d\d_\d\d_\d\d\.log$)"))
                .match(files.first())
                .hasMatch());
        const QStringList lines = readLines(files.first());
        QVERIFY(!lines.isEmpty());
        for (const QString &line : lines) {
            QVERIFY2(kLinePattern.match(line).hasMatch(), qPrintable(line));
        }
        const int started = lines.indexOf(
            QRegularExpression(QStringLiteral(".*\t\\|\tDebug\t\\|\tVoxmere updater started$")));
        const int parsed =
            lines.indexOf(QRegularExpression(QStringLiteral(".*\tparseCommandLineOptions .*")));
        QVERIFY(started >= 0);
        QVERIFY(parsed > started);
        QVERIFY(!lines.filter(QStringLiteral("\t|\tDebug\t|\tCLIENTUPDATE false")).isEmpty());
        QVERIFY(!lines.filter(QStringLiteral("Invalid version nr (abc)")).isEmpty());
        QVERIFY(lines.last().endsWith(
            QStringLiteral("\t|\tWarning\t|\tFailed to parse command line options, aborting")));
    }
};

QTEST_GUILESS_MAIN(UpdateLogTest)
#include "tst_updatelog.moc"
