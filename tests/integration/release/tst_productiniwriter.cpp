// The product ini writer against the updater's own reader: every kind of
// line, with names that need escaping in Qt's INI syntax, must come back
// from the list step exactly as written; lines the reader would misread
// are refused.
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "productiniwriter.h"
#include "releasetestsupport.h"
#include "rsacrypt.h"

using WriterCall = std::function<bool(ProductIniWriter &)>;
Q_DECLARE_METATYPE(WriterCall)

namespace {

const QString kIni = QStringLiteral("vxm_client_macosx.ini");

FileDigest digestOf(const char *text, quint64 size) {
    return FileDigest{releasetest::sha512(QByteArray(text)), size};
}

}  // namespace

class TestProductIniWriter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { RsaCrypt::registerAlgorithms(); }
    void roundTrip_data();
    void roundTrip();
    void rejects_data();
    void rejects();
    void replacesExistingFile();
};

void TestProductIniWriter::roundTrip_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << QStringLiteral("readme.txt");
    QTest::newRow("nested") << QStringLiteral("MacOS/sub/vxmclient_mac");
    QTest::newRow("space") << QStringLiteral("Resources/with space.txt");
    QTest::newRow("comma") << QStringLiteral("a,b.txt");
    QTest::newRow("ini syntax") << QStringLiteral("x=y;z#[w]");
    QTest::newRow("at and percent") << QStringLiteral("@lib%20.dylib");
    QTest::newRow("quote") << QStringLiteral("say \"hi\".txt");
    QTest::newRow("non-ascii") << QStringLiteral("Résumé/naïve ☃.txt");
    QTest::newRow("General") << QStringLiteral("General");
}

void TestProductIniWriter::roundTrip() {
    QFETCH(QString, name);
    QTemporaryDir temp;
    QTemporaryDir install;
    QVERIFY(temp.isValid() && install.isValid());
    // The installed file matches the patch's old hash, so the patch is chosen.
    QVERIFY(releasetest::writeFile(install.path(), name, "old"));

    ProductIniWriter writer;
    const FileDigest download = digestOf("container", 10);
    const FileDigest result = digestOf("new", 20);
    const FileDigest whole = digestOf("whole", 30);
    const FileDigest patch = digestOf("patch", 5);
    const FileDigest old{releasetest::sha512("old"), 3};
    const QStringList args = {QStringLiteral("mode=quiet"), QStringLiteral("dir=__VXM_DIR__"),
                              QStringLiteral("x,y z")};
    QVERIFY(writer.addTransformedFile(QStringLiteral("client"), name + "._lzma2_", download, result,
                                      name));
    QVERIFY(writer.addPatch(QStringLiteral("client"), name + ".1_patch_", patch, old, name));
    QVERIFY(writer.addWholeFile(QStringLiteral("common_client"), name, whole));
    QVERIFY(writer.addDelete(name, false));
    QVERIFY(writer.addCommand(ProductIniWriter::Phase::PostInstall, name, args, true));
    QVERIFY(writer.addCommand(ProductIniWriter::Phase::PreInstall, name, {}, false));
    QString error;
    QVERIFY2(writer.write(temp.filePath(kIni), &error), qPrintable(error));

    const releasetest::ListStepResult read =
        releasetest::runListStep(1, temp.path(), install.path());
    QVERIFY(read.ok);
    const UpdateFileLists &lists = read.lists;
    QCOMPARE(lists.downloadList.size(), 2);
    QCOMPARE(lists.downloadList.at(0).section, QStringLiteral("client"));
    QCOMPARE(lists.downloadList.at(0).name, name + ".1_patch_");
    QCOMPARE(lists.downloadList.at(0).hash, patch.hash);
    QCOMPARE(lists.downloadList.at(0).size, patch.size);
    QCOMPARE(lists.downloadList.at(1).section, QStringLiteral("common_client"));
    QCOMPARE(lists.downloadList.at(1).name, name);
    QCOMPARE(lists.downloadList.at(1).hash, whole.hash);
    QCOMPARE(lists.downloadList.at(1).size, whole.size);

    QCOMPARE(lists.replaceList.size(), 2);
    const ReplaceItem &transformed = lists.replaceList.at(0);
    QCOMPARE(transformed.name, name + "._lzma2_");
    QCOMPARE(transformed.finalHash, result.hash);
    QCOMPARE(transformed.finalSize, result.size);
    QCOMPARE(transformed.targetName, name);
    QCOMPARE(transformed.patchName, name + ".1_patch_");
    const ReplaceItem &copied = lists.replaceList.at(1);
    QCOMPARE(copied.name, name);
    QVERIFY(copied.finalHash.isEmpty() && copied.targetName.isEmpty());
    QCOMPARE(copied.targetPath(), "SharedSupport/" + name);

    QCOMPARE(lists.deleteList.size(), 1);
    QCOMPARE(lists.deleteList.at(0).name, name);
    QVERIFY(!lists.deleteList.at(0).recursive);

    QCOMPARE(lists.postInstallList.size(), 1);
    QCOMPARE(lists.postInstallList.at(0).name, name);
    const QStringList expectedArgs = {QStringLiteral("mode=quiet"), "dir=" + install.path() + "/",
                                      QStringLiteral("x,y z")};
    QCOMPARE(lists.postInstallList.at(0).args, expectedArgs);
    QVERIFY(!lists.postInstallList.at(0).required);
    QCOMPARE(lists.preInstallList.size(), 1);
    QVERIFY(lists.preInstallList.at(0).args.isEmpty());
    QVERIFY(lists.preInstallList.at(0).required);
}

void TestProductIniWriter::rejects_data() {
    QTest::addColumn<WriterCall>("call");
    QTest::addColumn<QString>("reason");
    const FileDigest d = digestOf("x", 1);
    const QString client = QStringLiteral("client");
    auto row = [](const char *tag, const WriterCall &call, const char *reason) {
        QTest::newRow(tag) << call << QString::fromLatin1(reason);
    };
    row(
        "file line in delete section",
        [d](ProductIniWriter &w) { return w.addWholeFile(QStringLiteral("delete"), "a", d); },
        "cannot be a file section");
    row(
        "General section",
        [d](ProductIniWriter &w) { return w.addWholeFile(QStringLiteral("General"), "a", d); },
        "cannot be a file section");
    row(
        "file key read as patch",
        [=](ProductIniWriter &w) { return w.addWholeFile(client, "a_patch_", d); },
        "would be read as a patch line");
    row(
        "patch key without suffix",
        [=](ProductIniWriter &w) { return w.addPatch(client, "a.patch", d, d, "a"); },
        "does not end with _patch_");
    row(
        "parent component",
        [=](ProductIniWriter &w) { return w.addWholeFile(client, "a/../../b", d); },
        "not a plain relative path");
    row(
        "absolute", [=](ProductIniWriter &w) { return w.addDelete("/etc/passwd", true); },
        "not a plain relative path");
    row(
        "backslash", [=](ProductIniWriter &w) { return w.addWholeFile(client, "a\\b", d); },
        "backslash");
    row(
        "separator in target",
        [=](ProductIniWriter &w) {
            return w.addTransformedFile(client, "a._lzma2_", d, d, "a::b");
        },
        "'::'");
    row(
        "target equals download",
        [=](ProductIniWriter &w) { return w.addTransformedFile(client, "a", d, d, "a"); },
        "has the name of its target");
    row(
        "trailing space", [=](ProductIniWriter &w) { return w.addWholeFile(client, "a ", d); },
        "white space");
    row(
        "twice",
        [=](ProductIniWriter &w) {
            return w.addWholeFile(client, "a", d) && w.addWholeFile(client, "a", d);
        },
        "listed twice");
    row(
        "optional without arguments",
        [](ProductIniWriter &w) {
            return w.addCommand(ProductIniWriter::Phase::PreInstall, "t", {}, true);
        },
        "needs at least one argument");
    row(
        "separator in argument",
        [](ProductIniWriter &w) {
            return w.addCommand(ProductIniWriter::Phase::PostInstall, "t", {"a::b"}, false);
        },
        "'::'");
}

void TestProductIniWriter::rejects() {
    QFETCH(WriterCall, call);
    QFETCH(QString, reason);
    ProductIniWriter writer;
    QVERIFY(!call(writer));
    QVERIFY2(writer.error().contains(reason), qPrintable(writer.error()));
    // Later valid lines do not make the ini writable again.
    QVERIFY(writer.addDelete(QStringLiteral("old.txt"), false));
    QTemporaryDir temp;
    QString error;
    QVERIFY(!writer.write(temp.filePath(kIni), &error));
    QCOMPARE(error, writer.error());
    QVERIFY(!QFile::exists(temp.filePath(kIni)));
}

void TestProductIniWriter::replacesExistingFile() {
    QTemporaryDir temp;
    const QString path = temp.filePath(kIni);
    QVERIFY(releasetest::writeFile(temp.path(), kIni, "[client]\nstale=h::1\n"));
    ProductIniWriter writer;
    QVERIFY(
        writer.addWholeFile(QStringLiteral("client"), QStringLiteral("fresh"), digestOf("f", 1)));
    QString error;
    QVERIFY(writer.write(path, &error));
    QTemporaryDir install;
    const releasetest::ListStepResult read =
        releasetest::runListStep(1, temp.path(), install.path());
    QVERIFY(read.ok);
    QCOMPARE(read.lists.downloadList.size(), 1);
    QCOMPARE(read.lists.downloadList.at(0).name, QStringLiteral("fresh"));
}

QTEST_GUILESS_MAIN(TestProductIniWriter)
#include "tst_productiniwriter.moc"
