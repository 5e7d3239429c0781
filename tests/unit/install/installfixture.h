#pragma once

// Helpers for the installation tests: files with known content and mode,
// compressed downloads made with the real codecs, product ini lines, a
// snapshot of a whole tree, and a gate that holds one file operation.

#include <QByteArray>
#include <QFileDevice>
#include <QMap>
#include <QString>
#include <QStringList>

#include <QTemporaryDir>

#include "configuration.h"
#include "updatefilelists.h"

class TaskSpecification;
class QSignalSpy;

namespace installfixture {

constexpr int kWaitMs = 30000;

/// Mode 0644, the one test files get unless a test says otherwise.
QFileDevice::Permissions plainMode();
/// Mode 0755.
QFileDevice::Permissions executableMode();

/// Lower-case hexadecimal SHA-512 of `data`.
QString sha512Hex(const QByteArray &data);
/// Writes `data` to `path` (creating its directory) with mode `mode`.
bool writeFile(const QString &path, const QByteArray &data,
               QFileDevice::Permissions mode = plainMode());
/// Writes `data` gzip-compressed to `path`.
bool writeGzip(const QString &path, const QByteArray &data);
/// Writes `data` as the engine's LZMA2 container to `path`.
bool writeLzma2(const QString &path, const QByteArray &data);
QByteArray readFile(const QString &path);

/// Writes an INI file whose sections map keys to values, as the product
/// ini is written.
bool writeIni(const QString &path, const QMap<QString, QMap<QString, QString>> &sections);

/// Every entry below `root` (relative path -> kind, mode and content, or
/// link target), so that two snapshots are equal only for trees that are
/// equal byte for byte, mode for mode.
QMap<QString, QByteArray> snapshot(const QString &root);

/// Starts `task` and processes events until it has ended; false when it did
/// not end within kWaitMs.
bool runToEnd(TaskSpecification &task);
/// Processes events until `task` has ended; false when it did not in time.
bool waitForEnd(const TaskSpecification &task);
/// The QString argument of each recorded signal.
QStringList texts(const QSignalSpy &spy);

/// A temporary installation ("install/") and session directory ("temp/")
/// with the configuration that names them.
class Session {
public:
    /// `isClientUpdate` selects the pass (and so the product ini's name).
    explicit Session(int isClientUpdate = 1);

    bool isValid() const { return m_Root.isValid(); }
    QString install(const QString &relative = QString()) const;
    QString temp(const QString &relative = QString()) const;
    /// Writes the product ini of the configured pass with lines in
    /// `section`.
    bool writeProductIni(const QString &section, const QMap<QString, QString> &lines) const;
    /// The 2-part product ini line of a download installed unchanged.
    static QString plainLine(const QByteArray &content);

    Configuration m_Configuration;

private:
    QTemporaryDir m_Root;
};

/// An entry of the replace list.
ReplaceItem replaceItem(const QString &section, const QString &name,
                        const QString &finalHash = QString(), const QString &targetName = QString(),
                        const QString &patchName = QString());

/// A named pipe used as a download: a file operation reading it blocks
/// until release() writes the content and closes the pipe. The destructor
/// releases a reader that is still waiting, so no pool thread stays blocked.
class PipeGate {
public:
    PipeGate(const QString &path, const QByteArray &content);
    ~PipeGate();
    PipeGate(const PipeGate &) = delete;
    PipeGate &operator=(const PipeGate &) = delete;

    bool isValid() const { return m_Valid; }
    /// Waits for the reader to open the pipe, then writes and closes it.
    bool release();

private:
    QString m_Path;
    QByteArray m_Content;
    bool m_Valid = false;
    bool m_Released = false;
};

}  // namespace installfixture
