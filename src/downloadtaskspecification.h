#pragma once

#include <QFile>
#include <QList>
#include <QString>
#include <QUrl>

#include "composedtaskspecification.h"
#include "sha512pipeline.h"
#include "updatefilelists.h"

class Configuration;
class QNetworkAccessManager;
class QNetworkReply;

/// One HTTP GET of updateBaseUrl + version + "/" + server name, written into
/// one local file as the body arrives.
///
/// Only status 200 is accepted; redirects are not followed and nothing is
/// resumed: every failed attempt (other status, network error, read or write
/// error, stall, a body larger than allowed, a local file that vanished
/// before the body was complete) starts again from byte 0 with the file
/// truncated, up to five attempts in all. After the fifth the local file is
/// removed and the task fails with "Unable to download %1".
///
/// The body is bounded: with an expected size given at construction, a body
/// that grows beyond it is a failed attempt; without one (-1), the bound is
/// kUnknownSizeLimit. The local file never holds more than the bound.
///
/// Stall detection is driven from outside: getDownloadProgress() is the
/// poll (once a second in the product). Fifteen polls in a row without data
/// are tolerated; the sixteenth restarts the transfer.
///
/// The body is taken from the reply in reads of at most kReadChunkBytes,
/// gathered into batches of at most kBatchBytes: each batch is checked
/// against the bound, written to the file in one piece and only then
/// counted, so the byte count, the progress (one update per batch) and the
/// body digest always describe exactly what the file holds. A batch ends
/// when the reply has nothing more available, so no received byte waits for
/// a later signal.
class DownloadTaskSpecification : public TaskSpecification {
    Q_OBJECT

public:
    /// Restarts after the first attempt.
    static constexpr int kMaxRetries = 4;
    /// Polls without data tolerated before a restart.
    static constexpr int kStallLimit = 15;
    /// Largest single read from the reply.
    static constexpr qint64 kReadChunkBytes = 4096;
    /// Largest batch of reads written to the file at once.
    static constexpr qint64 kBatchBytes = 64 * kReadChunkBytes;
    /// Bound of a body whose size is not known in advance.
    static constexpr qint64 kUnknownSizeLimit = qint64(64) * 1024 * 1024;

    /// `expectedBytes` -1 means unknown size. The manager is not owned.
    DownloadTaskSpecification(QNetworkAccessManager *networkManager, const QString &serverName,
                              int versionNumber, const QString &localPath, qint64 expectedBytes,
                              QObject *parent, double weight);
    ~DownloadTaskSpecification() override;

    /// updateBaseUrl + version + "/" + serverName, parsed tolerantly.
    static QUrl downloadUrl(int versionNumber, const QString &serverName);

    const QString &serverName() const { return m_ServerName; }
    QString localPath() const { return m_File.fileName(); }
    /// Restarts made so far in this run.
    int retries() const { return m_Retries; }

    /// Makes the transfer compute the SHA-512 of the body while writing it,
    /// so that the received file need not be read back to be checked. The
    /// digest runs on a worker thread, behind the writes; the attempt
    /// completes once it has caught up. Off by default; set before
    /// execute().
    void enableBodyDigest() { m_DigestBody = true; }
    /// SHA-512 (lower-case hexadecimal) of exactly the bytes that the
    /// completed attempt wrote to the local file, which is the file's whole
    /// content. Empty unless the body digest is enabled and the task has
    /// Finished; every new attempt clears it.
    const QString &bodySha512Hex() const { return m_BodyDigestHex; }

public slots:
    void execute() override;
    /// Abandons the transfer (partial file removed) and clears the retries.
    void reset() override;
    /// done = bytes of this attempt, total = expected size (0 if unknown),
    /// speed = bytes since the previous poll. Also the stall clock.
    void getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                             bool &downloading) override;
    /// While Running: abandons the transfer, removes the partial file and
    /// ends Canceled. Otherwise only records the request.
    void cancel() override;
    /// A sibling failed: abandon the transfer and end Failed.
    void handleOtherTaskCancelled(TaskSpecification *other) override;

protected:
    /// Called once the whole body is on disk and the file is closed.
    virtual void downloadFinished();

private slots:
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onReadyRead();
    void onDownloadFinished();
    void onMetaDataChanged();

private:
    void startDownload();
    /// Abandons the attempt and starts another one while retries are left
    /// (true), else removes the file and fails the task (false).
    bool retryOrFail(const QString &reason);
    /// Moves the reply's available bytes to the file. False when it has
    /// handed the transfer to retryOrFail().
    bool readAvailable();
    /// Reads from the reply, kReadChunkBytes at most at a time, into
    /// m_Batch until the batch is full or nothing more is available. The
    /// number of bytes gathered (m_Batch's first bytes), -1 on a read error.
    qint64 readBatch();
    /// Writes the first `size` bytes of m_Batch to the file. False when it
    /// has handed the transfer to retryOrFail().
    bool writeBatch(qint64 size);
    /// Releases the reply, removes a partially written file and zeroes the
    /// attempt's counters and progress.
    void resetTransfer();
    void releaseReply();
    /// Largest body accepted in one attempt.
    qint64 bodyLimit() const;
    /// Completes an attempt whose body has been read entirely (and, with
    /// the body digest, digested).
    void completeAttempt();

    QNetworkAccessManager *m_NetworkManager;
    QNetworkReply *m_Reply = nullptr;
    int m_StallTicks = 0;
    QString m_ServerName;
    int m_VersionNumber;
    QFile m_File;
    int m_Retries = 0;
    qint64 m_LastSampleBytes = 0;
    qint64 m_ExpectedBytes;
    qint64 m_InitialExpectedBytes;
    qint64 m_ReceivedBytes = 0;
    bool m_DigestBody = false;
    /// Digest of the bytes written in the current attempt.
    Sha512Pipeline m_BodyDigest;
    /// The reads being gathered; handed to the digest once written, and
    /// reallocated only while the digest still holds the previous batch.
    QByteArray m_Batch;
    QString m_BodyDigestHex;
};

/// One entry of the download list: the transfer (weight 0.8) into
/// m_TempDir + "/" + name, then the SHA-512 check of the received file
/// (weight 0.2). A hash mismatch is reported but does not fail the task; a
/// failed transfer does, and the check then never runs. The transfer digests
/// the body as it arrives and the check compares that digest, so a file is
/// not read back from disk.
class DownloadFileTaskSpecification : public ComposedTaskSpecification {
    Q_OBJECT

public:
    DownloadFileTaskSpecification(const DownloadItem &item, QNetworkAccessManager *networkManager,
                                  Configuration *configuration, QObject *parent, double weight);

    const DownloadItem &item() const { return m_Item; }
    /// The transfer subtask; null before execute().
    DownloadTaskSpecification *transfer() const { return m_Transfer; }

public slots:
    void execute() override;
    void reset() override;

private:
    DownloadItem m_Item;
    QNetworkAccessManager *m_NetworkManager;
    Configuration *m_Configuration;
    DownloadTaskSpecification *m_Transfer = nullptr;
};

/// The download step: every entry of the download list (read when the task
/// executes), up to m_Streams at a time, in list order, after creating the
/// directories the entries need below the temporary directory. The first
/// file that fails aborts the transfers still running.
class DownloadFileListTaskSpecification : public ComposedTaskSpecification {
    Q_OBJECT

public:
    /// The list and the manager are not owned.
    DownloadFileListTaskSpecification(QList<DownloadItem> *downloadList,
                                      QNetworkAccessManager *networkManager,
                                      Configuration *configuration, QObject *parent, double weight);

    /// Sum of the listed sizes; 0 before execute().
    qint64 totalBytes() const { return m_TotalBytes; }

public slots:
    void execute() override;
    void reset() override;
    /// The subtasks' figures, with total = the sum of the listed sizes.
    void getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                             bool &downloading) override;

private:
    /// Makes every entry's directory once. On failure the task has failed.
    bool createDirectories();

    QList<DownloadItem> *m_DownloadList;
    QNetworkAccessManager *m_NetworkManager;
    Configuration *m_Configuration;
    qint64 m_TotalBytes = 0;
};
