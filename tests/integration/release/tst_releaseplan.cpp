// The release plan over real trees in temporary directories: which trees
// are refused, where each file goes, which line each file gets and which
// paths the installation deletes.
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "releaseplan.h"
#include "releasetestsupport.h"
#include "releasetree.h"

Q_DECLARE_METATYPE(ReleasePass)
Q_DECLARE_METATYPE(LineKind)

namespace {

// Builds a tree from "path" (file) and "path/" (directory) entries.
bool makeTree(const QString &root, const QStringList &entries) {
    for (const QString &entry : entries) {
        const bool ok = entry.endsWith(QLatin1Char('/'))
                            ? QDir(root).mkpath(entry)
                            : releasetest::writeFile(root, entry, entry.toUtf8());
        if (!ok) {
            return false;
        }
    }
    return true;
}

}  // namespace

class TestReleasePlan : public QObject {
    Q_OBJECT

private slots:
    void refusedTrees_data();
    void refusedTrees();
    void placement_data();
    void placement();
    void chooseLine_data();
    void chooseLine();
    void deletes_data();
    void deletes();
};

void TestReleasePlan::refusedTrees_data() {
    QTest::addColumn<QStringList>("oldEntries");
    QTest::addColumn<QStringList>("newEntries");
    QTest::addColumn<QString>("special");  // "symlink", "fifo", "missing" or empty
    QTest::addColumn<QString>("reason");
    QTest::newRow("symlink") << QStringList() << QStringList{"a.txt"} << "symlink"
                             << "symbolic links cannot be published";
    QTest::newRow("fifo") << QStringList() << QStringList{"a.txt"} << "fifo"
                          << "not a regular file";
    QTest::newRow("missing root") << QStringList() << QStringList{"a.txt"} << "missing"
                                  << "is not a readable directory";
    QTest::newRow("empty") << QStringList() << QStringList{"only/dirs/"} << QString()
                           << "holds no files";
    QTest::newRow("backslash") << QStringList() << QStringList{"a\\b"} << QString() << "backslash";
    QTest::newRow("part separator") << QStringList() << QStringList{"a::b"} << QString() << "'::'";
    QTest::newRow("patch suffix") << QStringList() << QStringList{"x_patch_"} << QString()
                                  << "reserved for patches";
    QTest::newRow("old file, new directory")
        << QStringList{"lib"} << QStringList{"lib/x"} << QString() << "is a file in";
    QTest::newRow("old directory, new file")
        << QStringList{"lib/x"} << QStringList{"lib"} << QString() << "is a directory in";
}

void TestReleasePlan::refusedTrees() {
    QFETCH(QStringList, oldEntries);
    QFETCH(QStringList, newEntries);
    QFETCH(QString, special);
    QFETCH(QString, reason);
    QTemporaryDir oldDir;
    QTemporaryDir newDir;
    QVERIFY(makeTree(oldDir.path(), oldEntries) && makeTree(newDir.path(), newEntries));
    QString newRoot = newDir.path();
    if (special == QLatin1String("symlink")) {
        QVERIFY(QFile::link(newDir.filePath("a.txt"), newDir.filePath("link")));
    } else if (special == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(newDir.filePath("pipe")).constData(), 0600), 0);
    } else if (special == QLatin1String("missing")) {
        newRoot = newDir.filePath("nowhere");
    }
    QString error;
    ReleaseTree newTree;
    ReleaseTree oldTree;
    bool ok = newTree.scan(newRoot, &error);
    if (ok && !oldEntries.isEmpty()) {
        QVERIFY(oldTree.scan(oldDir.path(), &error));
    }
    if (ok) {
        ReleasePlan plan;
        const QList<ReleaseTree> olds =
            oldEntries.isEmpty() ? QList<ReleaseTree>() : QList<ReleaseTree>{oldTree};
        ok = plan.make(ReleasePass::Client, newTree, olds, &error);
    }
    QVERIFY(!ok);
    QVERIFY2(error.contains(reason), qPrintable(error));
}

void TestReleasePlan::placement_data() {
    QTest::addColumn<ReleasePass>("pass");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("target");
    QTest::newRow("client file") << ReleasePass::Client << "MacOS/vxmclient_mac"
                                 << "client"
                                 << "MacOS/vxmclient_mac";
    QTest::newRow("shared support") << ReleasePass::Client << "SharedSupport/update.ini.default"
                                    << "common_client"
                                    << "update.ini.default";
    QTest::newRow("prefix only by name") << ReleasePass::Client << "SharedSupportX/a"
                                         << "client"
                                         << "SharedSupportX/a";
    QTest::newRow("updater keeps full path")
        << ReleasePass::Updater << "SharedSupport/update.app/Contents/MacOS/update"
        << "update"
        << "SharedSupport/update.app/Contents/MacOS/update";
}

void TestReleasePlan::placement() {
    QFETCH(ReleasePass, pass);
    QFETCH(QString, path);
    QFETCH(QString, section);
    QFETCH(QString, target);
    QTemporaryDir dir;
    QVERIFY(releasetest::writeFile(dir.path(), path, "content"));
    ReleaseTree tree;
    ReleasePlan plan;
    QString error;
    QVERIFY(tree.scan(dir.path(), &error));
    QVERIFY(plan.make(pass, tree, {}, &error));
    QCOMPARE(plan.files().size(), 1);
    const PlannedFile &file = plan.files().at(0);
    QCOMPARE(file.path, path);
    QCOMPARE(file.section, section);
    QCOMPARE(file.target, target);
    QCOMPARE(file.digest.hash, releasetest::sha512("content"));
    QCOMPARE(file.digest.size, quint64(7));
}

void TestReleasePlan::chooseLine_data() {
    QTest::addColumn<ReleasePass>("pass");
    QTest::addColumn<qint64>("containerSize");
    QTest::addColumn<bool>("gzipMagic");
    QTest::addColumn<LineKind>("kind");
    QTest::addColumn<QString>("downloadName");
    // The file has 100 bytes in every row.
    QTest::newRow("client, compresses")
        << ReleasePass::Client << qint64(40) << false << LineKind::Container << "f._lzma2_";
    QTest::newRow("client, same size")
        << ReleasePass::Client << qint64(100) << false << LineKind::PassThrough << "f._raw_";
    QTest::newRow("client, no container")
        << ReleasePass::Client << qint64(-1) << false << LineKind::PassThrough << "f._raw_";
    QTest::newRow("client, gzip magic")
        << ReleasePass::Client << qint64(120) << true << LineKind::Container << "f._lzma2_";
    QTest::newRow("client, gzip magic, no container")
        << ReleasePass::Client << qint64(-1) << true << LineKind::Unpublishable << "f";
    QTest::newRow("updater, compresses")
        << ReleasePass::Updater << qint64(40) << false << LineKind::Container << "f._lzma2_";
    QTest::newRow("updater, grows")
        << ReleasePass::Updater << qint64(130) << true << LineKind::WholeFile << "f";
}

void TestReleasePlan::chooseLine() {
    QFETCH(ReleasePass, pass);
    QFETCH(qint64, containerSize);
    QFETCH(bool, gzipMagic);
    QFETCH(LineKind, kind);
    QFETCH(QString, downloadName);
    const LineKind chosen = ReleasePlan::chooseLine(pass, 100, containerSize, gzipMagic);
    QCOMPARE(chosen, kind);
    QCOMPARE(ReleasePlan::downloadName(chosen, QStringLiteral("f")), downloadName);
}

void TestReleasePlan::deletes_data() {
    QTest::addColumn<ReleasePass>("pass");
    QTest::addColumn<QStringList>("oldA");
    QTest::addColumn<QStringList>("oldB");
    QTest::addColumn<QStringList>("newEntries");
    QTest::addColumn<QStringList>("expected");  // path, "+r" appended when recursive
    QTest::newRow("nothing gone") << ReleasePass::Client << QStringList{"a", "d/b"} << QStringList()
                                  << QStringList{"a", "d/b", "c"} << QStringList();
    QTest::newRow("file gone") << ReleasePass::Client << QStringList{"a", "d/b"} << QStringList()
                               << QStringList{"a", "d/c"} << QStringList{"d/b"};
    QTest::newRow("directory gone, once, recursively")
        << ReleasePass::Client << QStringList{"a", "d/e/b", "d/c"} << QStringList()
        << QStringList{"a"} << QStringList{"d+r"};
    QTest::newRow("union of old trees")
        << ReleasePass::Client << QStringList{"a", "x"} << QStringList{"a", "y/z"}
        << QStringList{"a"} << QStringList{"x", "y+r"};
    QTest::newRow("updater pass never deletes")
        << ReleasePass::Updater << QStringList{"a", "x"} << QStringList() << QStringList{"a"}
        << QStringList();
}

void TestReleasePlan::deletes() {
    QFETCH(ReleasePass, pass);
    QFETCH(QStringList, oldA);
    QFETCH(QStringList, oldB);
    QFETCH(QStringList, newEntries);
    QFETCH(QStringList, expected);
    QTemporaryDir dirA;
    QTemporaryDir dirB;
    QTemporaryDir dirNew;
    QVERIFY(makeTree(dirA.path(), oldA) && makeTree(dirB.path(), oldB) &&
            makeTree(dirNew.path(), newEntries));
    QString error;
    QList<ReleaseTree> olds;
    for (const QTemporaryDir *dir : {&dirA, &dirB}) {
        ReleaseTree tree;
        if (tree.scan(dir->path(), &error)) {
            olds.append(tree);
        }
    }
    ReleaseTree newTree;
    QVERIFY(newTree.scan(dirNew.path(), &error));
    ReleasePlan plan;
    QVERIFY2(plan.make(pass, newTree, olds, &error), qPrintable(error));
    QStringList deletes;
    for (const PlannedDelete &entry : plan.deletes()) {
        deletes.append(entry.path + (entry.recursive ? "+r" : ""));
    }
    QCOMPARE(deletes, expected);
}

QTEST_GUILESS_MAIN(TestReleasePlan)
#include "tst_releaseplan.moc"
