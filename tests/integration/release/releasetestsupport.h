#pragma once

// Helpers shared by the release tool's tests: files in temporary trees and
// one synchronous run of the updater's own list step.

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include "updatefilelists.h"

namespace vxmtest {
class TestHttpServer;
}

namespace releasetest {

/// Where the update file server's files live on the test server.
extern const QByteArray kBasePath;
/// Answers every file of root under kBasePath + its path below root, as
/// the request line carries it (percent-encoded).
void serveTree(vxmtest::TestHttpServer *server, const QString &root);

/// Writes data to root/relative, creating the directories; false on failure.
bool writeFile(const QString &root, const QString &relative, const QByteArray &data);
/// The whole content of path (empty when it cannot be read).
QByteArray readFile(const QString &path);
/// SHA-512 of data, lower-case hexadecimal.
QString sha512(const QByteArray &data);
/// Bytes that no compressor shrinks (deterministic for a seed).
QByteArray noise(int size, quint32 seed);

/// The sample client release of the tests, version 1 (old) and 2 (new):
/// a changed incompressible executable, a byte-identical text, a file and a
/// directory only the old tree has, a new compressible file with a space in
/// its name, a changed file starting with the gzip magic, a changed file
/// under SharedSupport/, a new empty file, and an incompressible library
/// whose new version is a small edit of the old one (libraryVersion 1 and 2),
/// which the release patches.
bool makeSampleTrees(const QString &oldRoot, const QString &newRoot);
/// The incompressible library of the sample trees in the given version;
/// any two versions differ in a few places only.
QByteArray libraryVersion(int version);
/// Copies every file of from into to.
bool copyTree(const QString &from, const QString &to);
/// Every file of a tree: relative path -> content.
QMap<QString, QByteArray> contentsOf(const QString &root);

/// One run of the vxm-release program.
struct ToolRun {
    int status = -1;  ///< exit status; -1 when it crashed or did not end
    QString out;
    QString err;
};
/// Runs vxm-release with args, in workingDir when it is given.
ToolRun runTool(const QStringList &args, const QString &workingDir = QString());

/// Names in dir (hidden ones included), sorted.
QStringList entriesOf(const QString &dir);

/// The outcome of the list step over a product ini in tempDir.
struct ListStepResult {
    bool ok = false;
    UpdateFileLists lists;
    QStringList messages;
};

/// Runs MakeDownloadReplaceListFunc for the given pass (1 client, 0
/// updater) with the product ini in tempDir against installDir.
ListStepResult runListStep(int isClientUpdate, const QString &tempDir, const QString &installDir);

}  // namespace releasetest
