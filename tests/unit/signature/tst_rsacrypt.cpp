// The RSA layer: its scheme against the openssl command-line tool in both
// directions, key generation and key files, and the texts of its exceptions.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

#include "rsacrypt.h"

namespace {

const unsigned char *bytes(const QByteArray &data) {
    return reinterpret_cast<const unsigned char *>(data.constData());
}

QByteArray toByteArray(const std::vector<unsigned char> &data) {
    return QByteArray(reinterpret_cast<const char *>(data.data()), static_cast<int>(data.size()));
}

bool verifyWith(RsaKey &key, const QByteArray &message, const QByteArray &signature) {
    return RsaCrypt::verify(bytes(message), static_cast<std::size_t>(message.size()),
                            bytes(signature), static_cast<std::size_t>(signature.size()), key);
}

QByteArray signWith(RsaKey &key, const QByteArray &message) {
    return toByteArray(
        RsaCrypt::sign(bytes(message), static_cast<std::size_t>(message.size()), key));
}

QByteArray randomBytes(int size) {
    QByteArray data(size, Qt::Uninitialized);
    for (char &c : data) {
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    }
    return data;
}

void writeFile(const QString &path, const QByteArray &data) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(data), qint64(data.size()));
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs openssl; returns its exit code, or -1 when it could not run.
int openssl(const QStringList &args, QByteArray *output = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    if (output != nullptr) {
        *output = process.readAll();
    }
    return process.exitCode();
}

QStringList pssOptions(int saltLength) {
    return {QStringLiteral("-pkeyopt"), QStringLiteral("rsa_padding_mode:pss"),
            QStringLiteral("-pkeyopt"), QStringLiteral("rsa_pss_saltlen:%1").arg(saltLength),
            QStringLiteral("-pkeyopt"), QStringLiteral("digest:sha1")};
}

// Throws through `call` and returns the exception text, or "" when nothing was thrown.
template <typename Call>
QString exceptionText(Call call) {
    try {
        call();
    } catch (const crypt_exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

}  // namespace

class TestRsaCrypt : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void signAndVerify_data();
    void signAndVerify();
    void builtInKeyIsPublicHalfOfDemoKey();
    void keyFiles_data();
    void keyFiles();
    void errors_data();
    void errors();

    void interop_data();
    void interop();

private:
    // The private key of a row: the demo key or a freshly generated one.
    RsaKey privateKey(const QString &which);
    // Writes key as openssl's PEM files (converted from our DER key files).
    void convertForOpenssl(RsaKey &key);
    // SHA-1 of the file as openssl computes it: what the scheme signs.
    QString opensslDigest(const QString &file);

    QTemporaryDir m_Dir;
    QString m_PrivatePem;
    QString m_PublicPem;
};

void TestRsaCrypt::initTestCase() {
    QVERIFY(m_Dir.isValid());
    RsaCrypt::registerAlgorithms();
    RsaCrypt::registerAlgorithms();  // repeating the registration is harmless
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty(),
             "the openssl command-line tool is needed for the interoperability rows");
}

RsaKey TestRsaCrypt::privateKey(const QString &which) {
    return which == QLatin1String("demo") ? RsaCrypt::importFromFile(VXM_DEMO_PRIVATE_KEY)
                                          : RsaCrypt::makeKey();
}

void TestRsaCrypt::signAndVerify_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("size");
    QTest::newRow("demo key, empty message") << "demo" << 0;
    QTest::newRow("demo key, one byte") << "demo" << 1;
    QTest::newRow("demo key, 1 MiB") << "demo" << (1 << 20);
    QTest::newRow("generated key, 1000 bytes") << "generated" << 1000;
}

void TestRsaCrypt::signAndVerify() {
    QFETCH(QString, key);
    QFETCH(int, size);
    RsaKey signer = privateKey(key);
    QVERIFY(signer.isPrivate());
    const QByteArray message = randomBytes(size);
    const QByteArray signature = signWith(signer, message);
    QCOMPARE(signature.size(), RsaCrypt::kModulusBytes);

    // The public half alone verifies, as the updater does.
    const std::vector<unsigned char> publicDer = RsaCrypt::exportKey(signer, false);
    RsaKey verifier = RsaCrypt::importKey(publicDer.data(), publicDer.size());
    QVERIFY(verifier.isValid());
    QVERIFY(!verifier.isPrivate());
    QVERIFY(verifyWith(verifier, message, signature));

    // PSS is randomised: a second signature differs and verifies as well.
    const QByteArray second = signWith(signer, message);
    QVERIFY(second != signature);
    QVERIFY(verifyWith(verifier, message, second));

    QByteArray changed = message;
    changed.append('x');
    QVERIFY(!verifyWith(verifier, changed, signature));
    // Under another key the encoding does not decode: the library reports a
    // malformed signature, which the layer raises.
    RsaKey other = RsaCrypt::makeKey();
    QVERIFY(exceptionText([&] {
                verifyWith(other, message, signature);
            }).startsWith(QLatin1String("rsa_verify_hash: ")));
}

void TestRsaCrypt::builtInKeyIsPublicHalfOfDemoKey() {
    RsaKey builtIn = RsaCrypt::builtInKey();
    QVERIFY(!builtIn.isPrivate());
    RsaKey demo = RsaCrypt::importFromFile(VXM_DEMO_PRIVATE_KEY);
    const std::vector<unsigned char> der = RsaCrypt::exportKey(builtIn, false);
    // A 1024-bit PKCS #1 RSAPublicKey.
    QCOMPARE(der.size(), std::size_t(140));
    QCOMPARE(toByteArray(der), toByteArray(RsaCrypt::exportKey(demo, false)));
}

void TestRsaCrypt::keyFiles_data() {
    QTest::addColumn<bool>("privateHalf");
    QTest::newRow("private") << true;
    QTest::newRow("public") << false;
}

void TestRsaCrypt::keyFiles() {
    QFETCH(bool, privateHalf);
    RsaKey key = RsaCrypt::makeKey();
    const QString path = m_Dir.filePath(QStringLiteral("key_%1.der").arg(privateHalf));
    RsaCrypt::exportToFile(key, privateHalf, path.toStdString());

    const QByteArray file = readFile(path);
    const QByteArray der = toByteArray(RsaCrypt::exportKey(key, privateHalf));
    QCOMPARE(file.size(), int(RsaCrypt::kKeyFileSize));
    QCOMPARE(file.left(der.size()), der);
    QCOMPARE(file.mid(der.size()), QByteArray(file.size() - der.size(), '\0'));

    RsaKey block = RsaCrypt::importFromFile(path.toStdString());
    QCOMPARE(block.isPrivate(), privateHalf);
    QCOMPARE(toByteArray(RsaCrypt::exportKey(block, privateHalf)), der);

    // A plain DER file without the padding imports as well.
    const QString plain = path + QStringLiteral(".plain");
    writeFile(plain, der);
    RsaKey fromPlain = RsaCrypt::importFromFile(plain.toStdString());
    QCOMPARE(toByteArray(RsaCrypt::exportKey(fromPlain, privateHalf)), der);
}

void TestRsaCrypt::errors_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("expectedPrefix");
    // Library rows: the operation's name, ": " and the library's (non-empty) error text.
    QTest::addColumn<bool>("exact");
    const QString missing = m_Dir.filePath(QStringLiteral("missing/key.der"));
    QTest::newRow("import of garbage") << "import-garbage"
                                       << "rsa_import: " << false;
    QTest::newRow("import of one byte") << "import-one"
                                        << "rsa_import: " << false;
    QTest::newRow("import of nothing") << "import-empty"
                                       << "rsa_import: " << false;
    QTest::newRow("signature one byte short") << "verify-short"
                                              << "rsa_verify_hash: " << false;
    QTest::newRow("signature of zeros") << "verify-zeros"
                                        << "rsa_verify_hash: " << false;
    QTest::newRow("signing with a public key") << "sign-public"
                                               << "rsa_sign_hash: " << false;
    QTest::newRow("key file missing") << "read-missing"
                                      << "Cannot open file for reading: " + missing << true;
    QTest::newRow("key file unwritable") << "write-missing-dir"
                                         << "Cannot open file for writing: " + missing << true;
}

void TestRsaCrypt::errors() {
    QFETCH(QString, operation);
    QFETCH(QString, expectedPrefix);
    QFETCH(bool, exact);
    const std::string missing = m_Dir.filePath(QStringLiteral("missing/key.der")).toStdString();
    const QByteArray message("message");
    const QString text = exceptionText([&] {
        RsaKey publicKey = RsaCrypt::builtInKey();
        RsaKey demo = RsaCrypt::importFromFile(VXM_DEMO_PRIVATE_KEY);
        const QByteArray signature = signWith(demo, message);
        if (operation == QLatin1String("import-garbage")) {
            const QByteArray garbage = randomBytes(200);
            RsaCrypt::importKey(bytes(garbage), static_cast<std::size_t>(garbage.size()));
        } else if (operation == QLatin1String("import-one")) {
            RsaCrypt::importKey(bytes(QByteArray("0")), 1);
        } else if (operation == QLatin1String("import-empty")) {
            RsaCrypt::importKey(nullptr, 0);
        } else if (operation == QLatin1String("verify-short")) {
            verifyWith(publicKey, message, signature.left(signature.size() - 1));
        } else if (operation == QLatin1String("verify-zeros")) {
            verifyWith(publicKey, message, QByteArray(signature.size(), '\0'));
        } else if (operation == QLatin1String("sign-public")) {
            signWith(publicKey, message);
        } else if (operation == QLatin1String("read-missing")) {
            RsaCrypt::importFromFile(missing);
        } else {
            RsaCrypt::exportToFile(demo, false, missing);
        }
    });
    QVERIFY2(text.startsWith(expectedPrefix), qPrintable(text));
    if (exact) {
        QCOMPARE(text, expectedPrefix);
    } else {
        QVERIFY2(text.size() > expectedPrefix.size(), qPrintable(text));
    }
}

void TestRsaCrypt::convertForOpenssl(RsaKey &key) {
    const QString privateDer = m_Dir.filePath(QStringLiteral("signer_private.der"));
    const QString publicDer = m_Dir.filePath(QStringLiteral("signer_public.der"));
    RsaCrypt::exportToFile(key, true, privateDer.toStdString());
    RsaCrypt::exportToFile(key, false, publicDer.toStdString());
    m_PrivatePem = m_Dir.filePath(QStringLiteral("signer_private.pem"));
    m_PublicPem = m_Dir.filePath(QStringLiteral("signer_public.pem"));
    QCOMPARE(openssl({"rsa", "-inform", "DER", "-in", privateDer, "-out", m_PrivatePem}), 0);
    QCOMPARE(openssl({"rsa", "-RSAPublicKey_in", "-inform", "DER", "-in", publicDer, "-pubout",
                      "-out", m_PublicPem}),
             0);
}

QString TestRsaCrypt::opensslDigest(const QString &file) {
    QString digest = file + QStringLiteral(".sha1");
    if (openssl({"dgst", "-sha1", "-binary", "-out", digest, file}) != 0) {
        return QString();
    }
    return digest;
}

void TestRsaCrypt::interop_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("opensslSigns");
    QTest::addColumn<int>("saltLength");
    QTest::addColumn<bool>("alterFile");
    QTest::addColumn<bool>("expectValid");
    for (const char *key : {"demo", "generated"}) {
        const QByteArray k(key);
        QTest::newRow(k + ": openssl signs, we verify") << key << true << 8 << false << true;
        QTest::newRow(k + ": we sign, openssl verifies") << key << false << 8 << false << true;
    }
    QTest::newRow("openssl signs with salt 20: rejected") << "demo" << true << 20 << false << false;
    QTest::newRow("we sign, openssl expects salt 20: rejected")
        << "demo" << false << 20 << false << false;
    QTest::newRow("openssl signs, file changed: rejected") << "demo" << true << 8 << true << false;
    QTest::newRow("we sign, file changed: openssl rejects")
        << "demo" << false << 8 << true << false;
}

void TestRsaCrypt::interop() {
    QFETCH(QString, key);
    QFETCH(bool, opensslSigns);
    QFETCH(int, saltLength);
    QFETCH(bool, alterFile);
    QFETCH(bool, expectValid);

    RsaKey signer = privateKey(key);
    convertForOpenssl(signer);
    const QString file = m_Dir.filePath(QStringLiteral("product.ini"));
    QByteArray content = randomBytes(5000);
    writeFile(file, content);
    // The scheme signs the SHA-1 of the file's content; openssl is handed
    // that digest, our layer the content itself.
    const QString digest = opensslDigest(file);
    QVERIFY(!digest.isEmpty());
    const QString signature = file + QStringLiteral(".sig");

    if (opensslSigns) {
        QCOMPARE(openssl(QStringList{"pkeyutl", "-sign", "-inkey", m_PrivatePem, "-in", digest,
                                     "-out", signature} +
                         pssOptions(saltLength)),
                 0);
    } else {
        writeFile(signature, signWith(signer, content));
    }
    const QByteArray signatureBytes = readFile(signature);
    QCOMPARE(signatureBytes.size(), RsaCrypt::kModulusBytes);

    if (alterFile) {
        content[0] = static_cast<char>(content.at(0) ^ 1);
        writeFile(file, content);
    }
    if (opensslSigns) {
        const std::vector<unsigned char> publicDer = RsaCrypt::exportKey(signer, false);
        RsaKey verifier = RsaCrypt::importKey(publicDer.data(), publicDer.size());
        // A rejection is either "not valid" or, for an encoding that does not
        // decode under our parameters, the layer's exception.
        bool valid = false;
        const QString failure =
            exceptionText([&] { valid = verifyWith(verifier, content, signatureBytes); });
        QCOMPARE(valid, expectValid);
        QVERIFY(failure.isEmpty() || failure.startsWith(QLatin1String("rsa_verify_hash: ")));
    } else {
        const QString checked = opensslDigest(file);
        QByteArray output;
        const int status = openssl(QStringList{"pkeyutl", "-verify", "-pubin", "-inkey",
                                               m_PublicPem, "-in", checked, "-sigfile", signature} +
                                       pssOptions(saltLength),
                                   &output);
        QVERIFY2((status == 0) == expectValid, output.constData());
        if (expectValid) {
            QVERIFY2(output.contains("Signature Verified Successfully"), output.constData());
        }
    }
}

QTEST_GUILESS_MAIN(TestRsaCrypt)
#include "tst_rsacrypt.moc"
