// CheckSigFunc (SHA-512 and RSA checks on real files, signed with the demo
// key whose public half is built in) and CheckSignatureTaskSpecification on
// the real event loop and thread pool.
#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include "checksignaturetaskspecification.h"
#include "rsacrypt.h"

namespace {

enum class Hash { Correct, UpperCase, Wrong, None };
enum class Signature { Valid, Missing, OneByteShort, OtherKey, FileChangedAfterSigning, NotUsed };

QString sha512Of(const QByteArray &content) {
    return QString::fromLatin1(
        QCryptographicHash::hash(content, QCryptographicHash::Sha512).toHex());
}

void writeFile(const QString &path, const QByteArray &data) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(data), qint64(data.size()));
}

QByteArray signatureOf(const QByteArray &content, RsaKey &key) {
    const std::vector<unsigned char> signature =
        RsaCrypt::sign(reinterpret_cast<const unsigned char *>(content.constData()),
                       static_cast<std::size_t>(content.size()), key);
    return QByteArray(reinterpret_cast<const char *>(signature.data()),
                      static_cast<int>(signature.size()));
}

QStringList messagesOf(const QSignalSpy &spy) {
    QStringList messages;
    for (const QList<QVariant> &arguments : spy) {
        messages.append(arguments.at(0).toString());
    }
    return messages;
}

}  // namespace

Q_DECLARE_METATYPE(Hash)
Q_DECLARE_METATYPE(Signature)

class TestCheckSignature : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void check_data();
    void check();

    void task_data();
    void task();
    void parallelTasks();

private:
    // Lays out the file (unless missing) and its ".sig" companion for a row;
    // returns the expected hash to hand to the check.
    QString prepare(const QString &path, bool fileExists, const QByteArray &content, Hash hash,
                    Signature signature);

    QTemporaryDir m_Dir;
    RsaKey m_DemoKey;
    RsaKey m_OtherKey;
};

void TestCheckSignature::initTestCase() {
    QVERIFY(m_Dir.isValid());
    RsaCrypt::registerAlgorithms();
    m_DemoKey = RsaCrypt::importFromFile(VXM_DEMO_PRIVATE_KEY);
    m_OtherKey = RsaCrypt::makeKey();
}

QString TestCheckSignature::prepare(const QString &path, bool fileExists, const QByteArray &content,
                                    Hash hash, Signature signature) {
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".sig"));
    if (fileExists) {
        QByteArray stored = content;
        if (signature == Signature::FileChangedAfterSigning) {
            stored[stored.size() / 2] = static_cast<char>(stored.at(stored.size() / 2) ^ 0x01);
        }
        writeFile(path, stored);
    }
    QByteArray sig;
    switch (signature) {
        case Signature::Valid:
        case Signature::FileChangedAfterSigning:
            sig = signatureOf(content, m_DemoKey);
            break;
        case Signature::OneByteShort:
            sig = signatureOf(content, m_DemoKey);
            sig.chop(1);
            break;
        case Signature::OtherKey:
            sig = signatureOf(content, m_OtherKey);
            break;
        case Signature::Missing:
        case Signature::NotUsed:
            break;
    }
    if (!sig.isEmpty()) {
        writeFile(path + QStringLiteral(".sig"), sig);
    }
    switch (hash) {
        case Hash::Correct:
            return sha512Of(content);
        case Hash::UpperCase:
            return sha512Of(content).toUpper();
        case Hash::Wrong:
            return sha512Of(content + "x");
        case Hash::None:
            break;
    }
    return QString();
}

void TestCheckSignature::check_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<Hash>("hash");
    QTest::addColumn<Signature>("signature");
    QTest::addColumn<bool>("pass");
    // %1 stands for the file's path.
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("logLine");

    const QByteArray text("[client]\nbin/app=h1::1000\n");
    const QStringList none;
    const QString shaLog =
        QStringLiteral("^SHA512 check: \"[0-9a-fA-F]{128}\" \"[0-9a-f]{128}\" => %1$");
    QTest::newRow("lower-case hash") << text << true << Hash::Correct << Signature::NotUsed << true
                                     << none << shaLog.arg("true");
    QTest::newRow("upper-case hash") << text << true << Hash::UpperCase << Signature::NotUsed
                                     << true << none << shaLog.arg("true");
    QTest::newRow("wrong hash") << text << true << Hash::Wrong << Signature::NotUsed << false
                                << none << shaLog.arg("false");
    QTest::newRow("empty file, its hash")
        << QByteArray() << true << Hash::Correct << Signature::NotUsed << true << none
        << shaLog.arg("true");
    QTest::newRow("missing file, hash given")
        << text << false << Hash::Correct << Signature::NotUsed << false
        << QStringList{"Could not open file %1 for reading"} << QString();

    QTest::newRow("valid signature")
        << text << true << Hash::None << Signature::Valid << true << none << "^RSA check true$";
    QTest::newRow("empty file, valid signature")
        << QByteArray() << true << Hash::None << Signature::Valid << true << none
        << "^RSA check true$";
    QTest::newRow("file changed by one byte after signing")
        << text << true << Hash::None << Signature::FileChangedAfterSigning << false << none
        << "^RSA check false$";
    QTest::newRow("no .sig file") << text << true << Hash::None << Signature::Missing << false
                                  << QStringList{"Could not open file %1.sig for reading"}
                                  << "^RSA check failed, could not read \"[^\"]*\\.sig\"$";
    QTest::newRow(".sig one byte short") << text << true << Hash::None << Signature::OneByteShort
                                         << false << none << "^RSA check failed, caught exception";
    QTest::newRow("signed with another key")
        << text << true << Hash::None << Signature::OtherKey << false << none
        << "^RSA check (false|failed, caught exception)";
    QTest::newRow("missing file, signature present")
        << text << false << Hash::None << Signature::Valid << false
        << QStringList{"Could not open file %1 for reading"}
        << "^RSA check failed, could not read \"[^\"]*product\"$";
}

void TestCheckSignature::check() {
    QFETCH(QByteArray, content);
    QFETCH(bool, fileExists);
    QFETCH(Hash, hash);
    QFETCH(Signature, signature);
    QFETCH(bool, pass);
    QFETCH(QStringList, messages);
    QFETCH(QString, logLine);

    const QString path = m_Dir.filePath(QStringLiteral("product"));
    const QString expectedHash = prepare(path, fileExists, content, hash, signature);
    if (!logLine.isEmpty()) {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(logLine));
    }
    CheckSigFunc func(path, expectedHash);
    QSignalSpy messageSpy(&func, &ASyncFunc::message);
    QCOMPARE(func.run(), pass);
    for (QString &message : messages) {
        message = message.arg(path);
    }
    QCOMPARE(messagesOf(messageSpy), messages);
}

void TestCheckSignature::task_data() {
    QTest::addColumn<Hash>("hash");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<bool>("failOnMismatch");
    QTest::addColumn<bool>("pass");
    QTest::addColumn<int>("endState");

    QTest::newRow("hash matches") << Hash::Correct << true << true << true << int(Finished);
    QTest::newRow("signature valid") << Hash::None << true << true << true << int(Finished);
    QTest::newRow("mismatch fails the task") << Hash::Wrong << true << true << false << int(Failed);
    QTest::newRow("mismatch tolerated") << Hash::Wrong << true << false << false << int(Finished);
    QTest::newRow("missing file tolerated")
        << Hash::Correct << false << false << false << int(Finished);
}

void TestCheckSignature::task() {
    QFETCH(Hash, hash);
    QFETCH(bool, fileExists);
    QFETCH(bool, failOnMismatch);
    QFETCH(bool, pass);
    QFETCH(int, endState);

    const QString path = m_Dir.filePath(QStringLiteral("download.bin"));
    const QByteArray content("downloaded bytes");
    const QString expectedHash =
        prepare(path, fileExists, content, hash,
                hash == Hash::None ? Signature::Valid : Signature::NotUsed);

    CheckSignatureTaskSpecification task(path, expectedHash, failOnMismatch, nullptr, 0.5);
    QStringList events;
    connect(&task, &CheckSignatureTaskSpecification::checkDone, this,
            [&](bool result, CheckSignatureTaskSpecification *sender) {
                QCOMPARE(sender, &task);
                events.append(QStringLiteral("checkDone %1").arg(result));
            });
    connect(&task, &TaskSpecification::message, this,
            [&](const QString &message) { events.append(message); });
    connect(&task, &TaskSpecification::finished, this,
            [&] { events.append(QStringLiteral("finished")); });
    connect(&task, &TaskSpecification::canceled, this,
            [&] { events.append(QStringLiteral("canceled")); });

    task.execute();
    QCOMPARE(task.state(), int(Running));
    QTRY_VERIFY_WITH_TIMEOUT(task.state() != Running, 30000);
    QCOMPARE(task.state(), endState);

    QStringList expected;
    if (!fileExists) {
        expected << QStringLiteral("Could not open file %1 for reading").arg(path);
    }
    if (!pass) {
        expected << QStringLiteral("Signature check failed for %1").arg(path);
    }
    expected << QStringLiteral("checkDone %1").arg(pass);
    expected << (endState == Finished ? QStringLiteral("finished") : QStringLiteral("canceled"));
    QCOMPARE(events, expected);
    if (endState == Finished) {
        QCOMPARE(task.doneFrac(), 0.5);
    }
}

void TestCheckSignature::parallelTasks() {
    // Several checks on the pool at once, as parallel downloads run them,
    // RSA checks among them.
    const int count = 8;
    std::vector<std::unique_ptr<CheckSignatureTaskSpecification>> tasks;
    int outstanding = count;
    QList<bool> results;
    for (int i = 0; i < count; ++i) {
        const QString path = m_Dir.filePath(QStringLiteral("parallel_%1").arg(i));
        const QByteArray content = QByteArray(100000 + i, static_cast<char>('a' + i));
        // Rows alternate pass and fail: hash, wrong hash, signature, changed file.
        const bool rsa = i % 4 >= 2;
        const bool pass = i % 2 == 0;
        const QString expected =
            prepare(path, true, content, rsa ? Hash::None : (pass ? Hash::Correct : Hash::Wrong),
                    rsa ? (pass ? Signature::Valid : Signature::FileChangedAfterSigning)
                        : Signature::NotUsed);
        tasks.push_back(
            std::make_unique<CheckSignatureTaskSpecification>(path, expected, true, nullptr, 1.0));
        results.append(false);
        connect(tasks.back().get(), &CheckSignatureTaskSpecification::checkDone, this,
                [&, i](bool pass) {
                    results[i] = pass;
                    --outstanding;
                });
    }
    for (auto &task : tasks) {
        task->execute();
    }
    QTRY_COMPARE_WITH_TIMEOUT(outstanding, 0, 30000);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(results.at(i), i % 2 == 0);
        QTRY_COMPARE(tasks.at(i)->state(), int(i % 2 == 0 ? Finished : Failed));
    }
}

QTEST_GUILESS_MAIN(TestCheckSignature)
#include "tst_checksignature.moc"
