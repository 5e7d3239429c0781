// Copy, gzip unpack and patch tasks on the real thread pool and event loop.

#include <zlib.h>

#include <QTemporaryDir>
#include <QtTest>

#include "filecopytaskspecification.h"
#include "fileopstest.h"
#include "filetaskspecification_patch.h"
#include "fileunpacktaskspecification_lzma2.h"
#include "fileunpacktaskspecification_zip.h"
#include "vxdelta.h"

namespace {

enum class Op { Copy, Gzip, Lzma2, Patch };

/// A gzip member (header, deflate data, trailer) holding `content`.
QByteArray gzipped(const QByteArray &content) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        return QByteArray();
    }
    QByteArray out(int(deflateBound(&stream, uLong(content.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(content.constData()));
    stream.avail_in = uInt(content.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray();
}

QByteArray sampleText() {
    QByteArray text;
    for (int i = 0; i < 2000; ++i) {
        text += "line " + QByteArray::number(i) + " of the sample\n";
    }
    return text;
}

/// A gzip stream whose deflate data has been overwritten in the middle.
QByteArray damagedGzip() {
    QByteArray data = gzipped(sampleText());
    for (int i = data.size() / 2; i < data.size() / 2 + 16; ++i) {
        data[i] = char(~data[i]);
    }
    return data;
}

/// A gzip stream cut off before its end (no trailer, last block missing).
QByteArray truncatedGzip() {
    const QByteArray data = gzipped(sampleText());
    return data.left(data.size() / 2);
}

/// The engine's compressed container of `content`; null if it cannot be made.
QByteArray containerOf(const QByteArray &content) {
    const QTemporaryDir dir;
    const QByteArray in = dir.filePath(QStringLiteral("in")).toUtf8();
    const QByteArray out = dir.filePath(QStringLiteral("out")).toUtf8();
    if (!writeFile(QString::fromUtf8(in), content) ||
        !vxdelta::CompressFile(in.constData(), out.constData(), false)) {
        return QByteArray();
    }
    return readFile(QString::fromUtf8(out));
}

/// A container whose compressed payload has been altered near its end.
QByteArray damagedContainer() {
    QByteArray data = containerOf(sampleText());
    if (data.size() > 8) {
        data[data.size() - 8] = char(~data[data.size() - 8]);
    }
    return data;
}

/// Writes "src", "patch" and "dst" under the root; a null content leaves
/// that file out.
bool writeInputs(const TestRoot &root, const QByteArray &source, const QByteArray &patch,
                 const QByteArray &existing) {
    const QList<QPair<QString, QByteArray>> files{{QStringLiteral("src"), source},
                                                  {QStringLiteral("patch"), patch},
                                                  {QStringLiteral("dst"), existing}};
    for (const auto &file : files) {
        if (!file.second.isNull() && !writeFile(root.path(file.first), file.second)) {
            return false;
        }
    }
    return true;
}

TaskSpecification *makeTask(Op op, RollbackDataList *journal, const QString &src,
                            const QString &patch, const QString &dst) {
    switch (op) {
        case Op::Copy:
            return new FileCopyTaskSpecification(journal, src, dst, nullptr, 1.0);
        case Op::Gzip:
            return new FileUnpackTaskSpecification_zip(journal, src, dst, nullptr, 1.0);
        case Op::Lzma2:
            return new FileUnpackTaskSpecification_lzma2(journal, src, dst, nullptr, 1.0);
        case Op::Patch:
            return new FileTaskSpecification_patch(journal, src, patch, dst, nullptr, 1.0);
    }
    return nullptr;
}

}  // namespace

Q_DECLARE_METATYPE(Op)

class TestSlowFileOps : public QObject {
    Q_OBJECT

private slots:
    void fileOp_data();
    void fileOp();
    void patchStatusLines_data();
    void patchStatusLines();
};

// A null source or destination content means that the file does not exist;
// a null expected destination that none must be left.
void TestSlowFileOps::fileOp_data() {
    QTest::addColumn<Op>("op");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("patch");
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<bool>("journaled");
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("logLine");  ///< a debug line that must appear; empty: none

    const QByteArray none;
    const QByteArray text = sampleText();
    const QString copyFailed = QStringLiteral("Could not copy '%R/src' to '%R/dst'");
    const QString unzipFailed = QStringLiteral("Could not unzip '%R/src' to '%R/dst'");
    const QString unpackFailed = QStringLiteral("Could not unpack '%R/src' to '%R/dst'");
    const QString patchFailed = QStringLiteral("Could not patch '%R/src' to '%R/dst'");

    QTest::newRow("copy") << Op::Copy << text << none << none << true << int(Finished) << text
                          << QString() << QString();
    QTest::newRow("copy, no journal") << Op::Copy << text << none << none << false << int(Finished)
                                      << text << QString() << QString();
    QTest::newRow("copy onto an existing file leaves it")
        << Op::Copy << text << none << QByteArray("old") << true << int(Failed) << QByteArray("old")
        << copyFailed << QString();
    QTest::newRow("copy of a missing source") << Op::Copy << none << none << none << true
                                              << int(Failed) << none << copyFailed << QString();
    QTest::newRow("copy of an empty file")
        << Op::Copy << QByteArray("") << none << none << true << int(Finished) << QByteArray("")
        << QString() << QString();

    QTest::newRow("gzip") << Op::Gzip << gzipped(text) << none << none << true << int(Finished)
                          << text << QString() << QString();
    QTest::newRow("gzip, no journal") << Op::Gzip << gzipped(text) << none << none << false
                                      << int(Finished) << text << QString() << QString();
    QTest::newRow("gzip onto an existing file is recorded")
        << Op::Gzip << gzipped(text) << none << QByteArray("old") << true << int(Finished) << text
        << QString() << QString();
    QTest::newRow("gzip of a headerless file copies it")
        << Op::Gzip << text << none << none << true << int(Finished) << text << QString()
        << QString();
    QTest::newRow("gzip of a damaged stream") << Op::Gzip << damagedGzip() << none << none << true
                                              << int(Failed) << none << unzipFailed << QString();
    QTest::newRow("gzip of a damaged stream removes an existing file")
        << Op::Gzip << damagedGzip() << none << QByteArray("old") << true << int(Failed) << none
        << unzipFailed << QString();
    QTest::newRow("gzip of a stream cut short")
        << Op::Gzip << truncatedGzip() << none << none << true << int(Failed) << none << unzipFailed
        << QString();
    QTest::newRow("gzip of a missing source") << Op::Gzip << none << none << none << true
                                              << int(Failed) << none << unzipFailed << QString();

    QTest::newRow("lzma2") << Op::Lzma2 << containerOf(text) << none << none << true
                           << int(Finished) << text << QString() << QString();
    QTest::newRow("lzma2 onto an existing file is recorded")
        << Op::Lzma2 << containerOf(text) << none << QByteArray("old") << true << int(Finished)
        << text << QString() << QString();
    QTest::newRow("lzma2, no journal") << Op::Lzma2 << containerOf(text) << none << none << false
                                       << int(Finished) << text << QString() << QString();
    QTest::newRow("lzma2 of an empty file")
        << Op::Lzma2 << containerOf(QByteArray("")) << none << none << true << int(Finished)
        << QByteArray("") << QString() << QString();
    QTest::newRow("lzma2 of a damaged container leaves an existing file")
        << Op::Lzma2 << damagedContainer() << none << QByteArray("old") << true << int(Failed)
        << QByteArray("old") << unpackFailed << QString();
    QTest::newRow("lzma2 of a file that is no container")
        << Op::Lzma2 << text << none << none << true << int(Failed) << none << unpackFailed
        << QString();

    QTest::newRow("patch that is not a patch")
        << Op::Patch << text << QByteArray("plain text, no patch") << QByteArray("old") << true
        << int(Failed) << QByteArray("old") << patchFailed << QStringLiteral("Not a vxdelta patch");
}

void TestSlowFileOps::fileOp() {
    QFETCH(Op, op);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, patch);
    QFETCH(QByteArray, existing);
    QFETCH(bool, journaled);
    QFETCH(int, state);
    QFETCH(QByteArray, result);
    QFETCH(QString, failure);
    QFETCH(QString, logLine);

    const LogCapture log;
    const TestRoot root;
    const QString src = root.path(QStringLiteral("src"));
    const QString patchFile = root.path(QStringLiteral("patch"));
    const QString dst = root.path(QStringLiteral("dst"));
    QVERIFY(writeInputs(root, source, patch, existing));
    RollbackDataList list;
    QScopedPointer<TaskSpecification> task(
        makeTask(op, journaled ? &list : nullptr, src, patchFile, dst));
    QStringList lines;
    QCOMPARE(runTask(task.data(), &lines), state);

    QCOMPARE(lines, failure.isEmpty() ? QStringList() : QStringList{root.expand(failure)});
    QCOMPARE(readFile(dst), result);
    if (!logLine.isEmpty()) {
        QVERIFY2(log.contains(logLine), qPrintable(log.lines().join(QLatin1Char('\n'))));
    }
    QCOMPARE(readFile(src), source);
    const bool recorded = journaled && state == Finished;
    QCOMPARE(describe(list, root),
             recorded ? QStringList{QStringLiteral("1:%R/dst")} : QStringList());
    if (recorded) {
        // Undoing removes the destination, also one that existed before.
        QVERIFY(::rollbackAll(&list, nullptr));
        QVERIFY(!root.exists(QStringLiteral("dst")));
    }
}

// Header-level statuses of the engine and their debug lines; a status that
// has no line of its own only gets the status line.
void TestSlowFileOps::patchStatusLines_data() {
    QTest::addColumn<QByteArray>("patch");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("line");

    // varint 7696195 (magic) and 20110216 (version)
    const QByteArray magic = QByteArray::fromHex("c3ded503");
    const QByteArray version = QByteArray::fromHex("88b7cb09");
    QTest::newRow("missing patch file") << QByteArray() << 3 << QString();
    QTest::newRow("no magic") << QByteArray("\x01\x02\x03", 3) << 5 << "Not a vxdelta patch";
    QTest::newRow("other version") << magic + QByteArray("\x01", 1) << 6 << "Wrong version patch";
    QTest::newRow("header cut short")
        << magic + version + QByteArray("\x05", 1) << 7 << "Corrupt patch";
}

void TestSlowFileOps::patchStatusLines() {
    QFETCH(QByteArray, patch);
    QFETCH(int, status);
    QFETCH(QString, line);

    const TestRoot root;
    const QString src = root.path(QStringLiteral("src"));
    const QString patchFile = root.path(QStringLiteral("patch"));
    const QString dst = root.path(QStringLiteral("dst"));
    QVERIFY(writeInputs(root, sampleText(), patch, QByteArray()));
    const LogCapture log;
    QVERIFY(!FileFuncPatch::patchFile(src, patchFile, dst));

    const QStringList lines = log.lines();
    const QString statusLine = QStringLiteral("ApplyEnsemblePatch status = %1 %2 %3 %4")
                                   .arg(QString::number(status), src, patchFile, dst);
    QVERIFY2(lines.contains(statusLine), qPrintable(lines.join('\n')));
    for (const QString &mapped :
         QStringList{"Not a vxdelta patch", "Wrong version patch", "Corrupt patch"}) {
        QCOMPARE(lines.contains(mapped), mapped == line);
    }
    QVERIFY(lines.contains(QStringLiteral("Patch result false")));
    QVERIFY(!root.exists(QStringLiteral("dst")));
}

QTEST_GUILESS_MAIN(TestSlowFileOps)
#include "tst_slowfileops.moc"
