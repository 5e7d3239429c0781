// Whole releases built by vxm-release from two small trees, read back the
// way the updater reads them: the compressed product ini is unpacked by the
// engine and verified with the built-in key, the list step compares it with
// an installation of the old tree, and every download it asks for is on
// the server path the download step requests, with the hash it expects.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "checksignaturetaskspecification.h"
#include "filetaskspecification_patch.h"
#include "releasecodec.h"
#include "releasetestsupport.h"
#include "rsacrypt.h"

using releasetest::contentsOf;
using releasetest::copyTree;
using releasetest::entriesOf;
using releasetest::readFile;
using releasetest::writeFile;

namespace {

const QString kClientIni = QStringLiteral("vxm_client_macosx.ini");
const QString kUpdaterIni = QStringLiteral("update_macosx.ini");

QByteArray text(const char *line, int repeat) {
    return QByteArray(line).repeated(repeat);
}

}  // namespace

class TestReleaseBuild : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void clientReleaseReadBack();
    void tamperedDownloadIsRejected();
    void updaterReleaseReadBack();
    void passesShareTheVersionFolder();
    void failedBuildKeepsThePublishedRelease();
    void patchesFromEveryOldTree();

private:
    releasetest::ToolRun build(const QString &pass, const QString &newTree,
                               const QStringList &extra = QStringList());
    /// Fetches, unpacks and verifies the product ini of root/2 into a new
    /// temporary directory as the product ini step does.
    bool fetchIni(const QString &iniName, QTemporaryDir *temp);

    QScopedPointer<QTemporaryDir> m_Dir;
    QString m_Old;
    QString m_New;
    QString m_Root;
};

void TestReleaseBuild::initTestCase() {
    RsaCrypt::registerAlgorithms();
    if (!ReleaseCodec::available()) {
        QSKIP("the engine of this build has no compressed file container");
    }
}

void TestReleaseBuild::init() {
    m_Dir.reset(new QTemporaryDir);
    m_Old = m_Dir->filePath("old");
    m_New = m_Dir->filePath("new");
    m_Root = m_Dir->filePath("root");
    QVERIFY(releasetest::makeSampleTrees(m_Old, m_New));
}

releasetest::ToolRun TestReleaseBuild::build(const QString &pass, const QString &newTree,
                                             const QStringList &extra) {
    return releasetest::runTool(QStringList{"build", "--pass", pass, "--version", "2", "--new",
                                            newTree, "--old", m_Old, "--key",
                                            QStringLiteral(VXM_DEMO_PRIVATE_KEY), "--out", m_Root} +
                                extra);
}

bool TestReleaseBuild::fetchIni(const QString &iniName, QTemporaryDir *temp) {
    const QString served = m_Root + "/2/" + iniName;
    const QString ini = temp->filePath(iniName);
    if (!QFile::copy(served + "._lzma2_", ini + "._lzma2_") ||
        !QFile::copy(served + ".sig", ini + ".sig") ||
        !ReleaseCodec::decompressFile(ini + "._lzma2_", ini)) {
        return false;
    }
    CheckSigFunc signature(ini, QString());
    return signature.run();
}

void TestReleaseBuild::clientReleaseReadBack() {
    const releasetest::ToolRun run =
        build("client", m_New, {"--postinstall", "optional:tool::dir=__VXM_DIR__"});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.contains("[7/7]"), qPrintable(run.err));
    QVERIFY2(run.out.contains("client pass, version 2: 7 files"), qPrintable(run.out));
    QCOMPARE(entriesOf(m_Root), QStringList{"2"});
    const QStringList served = {"client", "common_client", kClientIni + "._lzma2_",
                                kClientIni + ".sig"};
    QCOMPARE(entriesOf(m_Root + "/2"), served);

    QTemporaryDir temp;
    QTemporaryDir install;
    QVERIFY(fetchIni(kClientIni, &temp));
    QVERIFY(copyTree(m_Old, install.path()));
    const releasetest::ListStepResult read =
        releasetest::runListStep(1, temp.path(), install.path());
    QVERIFY(read.ok);

    // The byte-identical readme needs nothing; everything else is fetched.
    QStringList downloads;
    for (const DownloadItem &item : read.lists.downloadList) {
        downloads.append(item.section + "/" + item.name);
        const QString file = m_Root + "/2/" + item.section + "/" + item.name;
        QCOMPARE(quint64(QFileInfo(file).size()), item.size);
        CheckSigFunc check(file, item.hash);
        QVERIFY2(check.run(), qPrintable(file));
    }
    downloads.sort();
    const QStringList expected = {"client/Frameworks/data.gz._lzma2_",
                                  "client/Frameworks/libcore.dylib.1_patch_",
                                  "client/MacOS/vxmclient_mac._raw_",
                                  "client/Resources/new file.txt._lzma2_",
                                  "client/empty.txt._raw_",
                                  "common_client/update.ini.default._raw_"};
    QCOMPARE(downloads, expected);

    // Every replacement installs the new tree's file at its path and checks it.
    QCOMPARE(read.lists.replaceList.size(), expected.size());
    for (const ReplaceItem &item : read.lists.replaceList) {
        const QString path = item.targetPath();
        QVERIFY2(!item.targetName.isEmpty(), qPrintable(path));
        QCOMPARE(item.finalHash, releasetest::sha512(readFile(m_New + "/" + path)));
    }
    QCOMPARE(read.lists.deleteList.size(), 2);
    QCOMPARE(read.lists.deleteList.at(0).name, QStringLiteral("Resources/gone.txt"));
    QVERIFY(!read.lists.deleteList.at(0).recursive);
    QCOMPARE(read.lists.deleteList.at(1).name, QStringLiteral("Resources/olddir"));
    QVERIFY(read.lists.deleteList.at(1).recursive);
    QCOMPARE(read.lists.postInstallList.size(), 1);
    QCOMPARE(read.lists.postInstallList.at(0).args, QStringList{"dir=" + install.path() + "/"});

    // Unpacking each container gives the new file back.
    for (const ReplaceItem &item : read.lists.replaceList) {
        if (item.name.endsWith("._lzma2_")) {
            const QString out = temp.filePath("unpacked");
            QVERIFY(
                ReleaseCodec::decompressFile(m_Root + "/2/" + item.section + "/" + item.name, out));
            QCOMPARE(readFile(out), readFile(m_New + "/" + item.targetPath()));
        }
    }
}

void TestReleaseBuild::tamperedDownloadIsRejected() {
    QCOMPARE(build("client", m_New).status, 0);
    QTemporaryDir temp;
    QTemporaryDir install;
    QVERIFY(fetchIni(kClientIni, &temp));
    const releasetest::ListStepResult read =
        releasetest::runListStep(1, temp.path(), install.path());
    QVERIFY(read.ok);
    const DownloadItem *target = nullptr;
    for (const DownloadItem &item : read.lists.downloadList) {
        if (item.name == QLatin1String("MacOS/vxmclient_mac._raw_")) {
            target = &item;
        }
    }
    QVERIFY(target != nullptr);
    const QString file = m_Root + "/2/client/" + target->name;
    QByteArray bytes = readFile(file);
    bytes[100] = static_cast<char>(bytes.at(100) ^ 0x40);
    QVERIFY(writeFile(m_Root + "/2/client", target->name, bytes));
    CheckSigFunc check(file, target->hash);
    QVERIFY(!check.run());

    // A changed product ini fails its signature check.
    const QString ini = temp.filePath(kClientIni);
    QVERIFY(writeFile(temp.path(), kClientIni, readFile(ini) + "\n[client]\nx=y::1\n"));
    CheckSigFunc signature(ini, QString());
    QVERIFY(!signature.run());
}

void TestReleaseBuild::updaterReleaseReadBack() {
    const QString updater = m_Dir->filePath("updater");
    const QString exe = "SharedSupport/update.app/Contents/MacOS/update";
    QVERIFY(writeFile(updater, exe, releasetest::noise(4000, 5)));
    QVERIFY(writeFile(updater, "Frameworks/libQt5Core.dylib", text("code", 500)));
    QVERIFY(writeFile(m_Old, "Frameworks/libQt5Core.dylib", text("code", 500)));
    QCOMPARE(build("updater", updater).status, 0);
    const QStringList served = {"update", kUpdaterIni + "._lzma2_", kUpdaterIni + ".sig"};
    QCOMPARE(entriesOf(m_Root + "/2"), served);

    QTemporaryDir temp;
    QTemporaryDir install;
    QVERIFY(fetchIni(kUpdaterIni, &temp));
    QVERIFY(copyTree(m_Old, install.path()));
    const releasetest::ListStepResult read =
        releasetest::runListStep(0, temp.path(), install.path());
    QVERIFY(read.ok);
    // The incompressible executable is a 2-part line: its download lands
    // where the new updater is assembled.
    QCOMPARE(read.lists.downloadList.size(), 1);
    QCOMPARE(read.lists.downloadList.at(0).section, QStringLiteral("update"));
    QCOMPARE(read.lists.downloadList.at(0).name, exe);
    QVERIFY(read.lists.replaceList.at(0).targetName.isEmpty());
    // The current library is copied into the temporary tree by the list step.
    QCOMPARE(readFile(temp.filePath("Frameworks/libQt5Core.dylib")), text("code", 500));
    QVERIFY(read.lists.deleteList.isEmpty());
}

void TestReleaseBuild::passesShareTheVersionFolder() {
    const QString updater = m_Dir->filePath("updater");
    QVERIFY(writeFile(updater, "SharedSupport/update.app/Contents/MacOS/update", "u"));
    QCOMPARE(build("client", m_New).status, 0);
    QCOMPARE(build("updater", updater).status, 0);
    const QMap<QString, QByteArray> both = contentsOf(m_Root + "/2");
    QVERIFY(both.contains("client/MacOS/vxmclient_mac._raw_"));
    QVERIFY(both.contains("update/SharedSupport/update.app/Contents/MacOS/update"));

    // Rebuilding the client pass drops its stale files and keeps the updater's.
    QVERIFY(QFile::remove(m_New + "/empty.txt"));
    QCOMPARE(build("client", m_New).status, 0);
    const QMap<QString, QByteArray> rebuilt = contentsOf(m_Root + "/2");
    QVERIFY(!rebuilt.contains("client/empty.txt._raw_"));
    for (const char *name : {"update_macosx.ini._lzma2_", "update_macosx.ini.sig",
                             "update/SharedSupport/update.app/Contents/MacOS/update"}) {
        QCOMPARE(rebuilt.value(name), both.value(name));
    }
    QCOMPARE(entriesOf(m_Root), QStringList{"2"});
}

void TestReleaseBuild::failedBuildKeepsThePublishedRelease() {
    QCOMPARE(build("client", m_New).status, 0);
    const QMap<QString, QByteArray> published = contentsOf(m_Root);
    // Both files would be downloaded to the same temporary path.
    const QString clash = m_Dir->filePath("clash");
    QVERIFY(copyTree(m_New, clash));
    QVERIFY(writeFile(clash, "update.ini.default", "z"));
    const releasetest::ToolRun run = build("client", clash);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("would share the name update.ini.default._raw_"),
             qPrintable(run.err));
    QCOMPARE(contentsOf(m_Root), published);
    QCOMPARE(entriesOf(m_Root), QStringList{"2"});
}

void TestReleaseBuild::patchesFromEveryOldTree() {
    // A second old tree: another version of the library, and the same
    // executable as the first old tree (one patch per distinct old file).
    const QString older = m_Dir->filePath("older");
    QVERIFY(copyTree(m_Old, older));
    QVERIFY(writeFile(older, "Frameworks/libcore.dylib", releasetest::libraryVersion(3)));
    const releasetest::ToolRun run = build("client", m_New, {"--old", older});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains("; 2 patches ("), qPrintable(run.out));

    const QString served = m_Root + "/2/client/Frameworks/";
    QCOMPARE(entriesOf(served), (QStringList{"data.gz._lzma2_", "libcore.dylib.1_patch_",
                                             "libcore.dylib.2_patch_", "libcore.dylib._raw_"}));
    const QByteArray newLibrary = readFile(m_New + "/Frameworks/libcore.dylib");
    QTemporaryDir temp;
    QVERIFY(fetchIni(kClientIni, &temp));
    const struct {
        QString tree;
        QString patch;
    } installs[] = {{m_Old, "Frameworks/libcore.dylib.1_patch_"},
                    {older, "Frameworks/libcore.dylib.2_patch_"}};
    for (const auto &install : installs) {
        const releasetest::ListStepResult read =
            releasetest::runListStep(1, temp.path(), install.tree);
        QVERIFY(read.ok);
        ReplaceItem library;
        for (const ReplaceItem &item : read.lists.replaceList) {
            if (item.targetName == QLatin1String("Frameworks/libcore.dylib")) {
                library = item;
            }
        }
        QCOMPARE(library.patchName, install.patch);
        QCOMPARE(library.finalHash, releasetest::sha512(newLibrary));
        const QString patchFile = m_Root + "/2/client/" + install.patch;
        bool downloaded = false;
        for (const DownloadItem &item : read.lists.downloadList) {
            if (item.name == install.patch) {
                downloaded = true;
                QCOMPARE(item.size, quint64(QFileInfo(patchFile).size()));
                QVERIFY(item.size * 10 < quint64(newLibrary.size()));
                CheckSigFunc check(patchFile, item.hash);
                QVERIFY(check.run());
            }
        }
        QVERIFY(downloaded);
        // The updater's own patch step rebuilds the new library.
        const QString rebuilt = temp.filePath("rebuilt");
        QVERIFY(FileFuncPatch::patchFile(install.tree + "/Frameworks/libcore.dylib", patchFile,
                                         rebuilt));
        QCOMPARE(readFile(rebuilt), newLibrary);
    }
    // Changed files whose patch would not be smaller get none.
    QVERIFY(!QFileInfo::exists(m_Root + "/2/client/MacOS/vxmclient_mac.1_patch_"));
    QVERIFY(!QFileInfo::exists(m_Root + "/2/common_client/update.ini.default.1_patch_"));
}

QTEST_GUILESS_MAIN(TestReleaseBuild)
#include "tst_releasebuild.moc"
