// The digest pipeline of the transfers: pieces digested on the worker give
// the SHA-512 of their concatenation (checked against Qt's own SHA-512), the
// result arrives through the event loop, and a restart or the pipeline's
// end drops what was queued and a result not yet delivered.

#include <QCryptographicHash>
#include <QtTest>
#include <memory>

#include "sha512pipeline.h"

namespace {

QString referenceHex(const QByteArray &data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha512).toHex());
}

/// `size` bytes that differ from piece to piece and within a piece.
QByteArray piece(int size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        bytes[i] = char((i * 31 + seed * 7) ^ (i >> 8));
    }
    return bytes;
}

/// Collects the results that reach `context`.
struct Results {
    QObject context;
    QStringList received;

    Sha512Pipeline::Result sink() {
        return [this](const QString &hex) { received.append(hex); };
    }
};

}  // namespace

class Sha512PipelineTest : public QObject {
    Q_OBJECT

private slots:
    void digestOfConcatenation_data();
    void digestOfConcatenation();
    void restartDropsQueuedPiecesAndPendingResult_data();
    void restartDropsQueuedPiecesAndPendingResult();
    void resultOfDestroyedPipelineIsDropped_data();
    void resultOfDestroyedPipelineIsDropped();
};

void Sha512PipelineTest::digestOfConcatenation_data() {
    QTest::addColumn<QList<int>>("sizes");
    QTest::newRow("empty stream") << QList<int>{};
    QTest::newRow("empty pieces only") << QList<int>{0, 0};
    QTest::newRow("one byte") << QList<int>{1};
    QTest::newRow("odd sizes across block bounds") << QList<int>{127, 0, 1, 128, 129, 4096, 5};
    // More than the queue holds: add() has to wait for the worker.
    const int mib = 1024 * 1024;
    QTest::newRow("beyond the queue bound") << QList<int>{3 * mib, 3 * mib, 3 * mib, 3 * mib, 17};
}

void Sha512PipelineTest::digestOfConcatenation() {
    QFETCH(QList<int>, sizes);
    Results results;
    Sha512Pipeline pipeline;
    QByteArray whole;
    for (int i = 0; i < sizes.size(); ++i) {
        const QByteArray bytes = piece(sizes[i], i);
        whole += bytes;
        pipeline.add(bytes);
    }
    pipeline.finishLater(&results.context, results.sink());
    QVERIFY(results.received.isEmpty());
    QTRY_COMPARE(results.received.size(), 1);
    QCOMPARE(results.received.first(), referenceHex(whole));
}

void Sha512PipelineTest::restartDropsQueuedPiecesAndPendingResult_data() {
    QTest::addColumn<int>("firstPieces");
    QTest::newRow("first result posted") << 0;
    QTest::newRow("first pieces and result queued") << 8;
}

void Sha512PipelineTest::restartDropsQueuedPiecesAndPendingResult() {
    QFETCH(int, firstPieces);
    Results results;
    Sha512Pipeline pipeline;
    for (int i = 0; i < firstPieces; ++i) {
        pipeline.add(piece(1024 * 1024, i));
    }
    pipeline.finishLater(&results.context, results.sink());
    pipeline.restart();
    const QByteArray second = piece(70000, 99);
    pipeline.add(second);
    pipeline.finishLater(&results.context, results.sink());
    QTRY_COMPARE(results.received.size(), 1);
    QCOMPARE(results.received.first(), referenceHex(second));
    // The first stream's result, had it been posted, would have come first.
    QCoreApplication::sendPostedEvents();
    QCOMPARE(results.received.size(), 1);
}

void Sha512PipelineTest::resultOfDestroyedPipelineIsDropped_data() {
    QTest::addColumn<int>("bytes");
    QTest::addColumn<bool>("contextDestroyedToo");
    // With nothing to digest the result is posted at once, inside
    // finishLater(); with a large piece it is most likely still queued.
    QTest::newRow("posted, context alive") << 0 << false;
    QTest::newRow("still queued, context alive") << 4 * 1024 * 1024 << false;
    QTest::newRow("posted, context destroyed after the pipeline") << 0 << true;
}

void Sha512PipelineTest::resultOfDestroyedPipelineIsDropped() {
    QFETCH(int, bytes);
    QFETCH(bool, contextDestroyedToo);
    auto context = std::make_unique<QObject>();
    QStringList received;
    {
        Sha512Pipeline pipeline;
        pipeline.add(piece(bytes, 1));
        pipeline.finishLater(context.get(),
                             [&received](const QString &hex) { received.append(hex); });
        QVERIFY(received.isEmpty());
    }
    if (contextDestroyedToo) {
        context.reset();
    }
    // The pipeline has waited for its worker, so a result it posted is in
    // the queue by now.
    QCoreApplication::sendPostedEvents();
    QVERIFY(received.isEmpty());
}

QTEST_GUILESS_MAIN(Sha512PipelineTest)
#include "tst_sha512pipeline.moc"
