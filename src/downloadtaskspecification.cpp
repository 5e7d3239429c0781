#include "downloadtaskspecification.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <limits>

#include "checksignaturetaskspecification.h"
#include "configuration.h"

namespace {

/// Weights of the two parts of one file's task.
constexpr double kTransferWeight = 0.8;
constexpr double kCheckWeight = 0.2;
/// Largest expected size for which the manager may hold the whole body in
/// one buffer of that size (one buffer per transfer in flight).
constexpr qint64 kWholeBodyBufferLimit = qint64(32) * 1024 * 1024;

/// The hash check of a received file. It compares the digest that the
/// transfer took of the body while writing it; where there is none (no hash
/// listed, so the file's signature is checked, or the transfer did not
/// digest) it checks the file itself.
class ReceivedFileCheckTaskSpecification : public CheckSignatureTaskSpecification {
public:
    ReceivedFileCheckTaskSpecification(const DownloadTaskSpecification *transfer,
                                       const QString &expectedHash, QObject *parent, double weight)
        : CheckSignatureTaskSpecification(transfer->localPath(), expectedHash, false, parent,
                                          weight),
          m_Transfer(transfer) {}

    void execute() override {
        const QString &digest = m_Transfer->bodySha512Hex();
        if (expectedHash().isEmpty() || digest.isEmpty()) {
            CheckSignatureTaskSpecification::execute();
            return;
        }
        // Comparing two short texts blocks nothing, so it needs no pool
        // thread; done here it saves every file a round trip through the
        // pool before its download slot is free again.
        m_State = Running;
        runDone(CheckSigFunc::digestMatches(expectedHash(), digest));
    }

private:
    const DownloadTaskSpecification *m_Transfer;
};

}  // namespace

DownloadTaskSpecification::DownloadTaskSpecification(QNetworkAccessManager *networkManager,
                                                     const QString &serverName, int versionNumber,
                                                     const QString &localPath, qint64 expectedBytes,
                                                     QObject *parent, double weight)
    : TaskSpecification(parent, weight),
      m_NetworkManager(networkManager),
      m_ServerName(serverName),
      m_VersionNumber(versionNumber),
      m_File(localPath),
      m_ExpectedBytes(expectedBytes),
      m_InitialExpectedBytes(expectedBytes) {}

DownloadTaskSpecification::~DownloadTaskSpecification() {
    // A transfer abandoned by destruction must not keep running into a
    // reply nobody releases.
    releaseReply();
}

QUrl DownloadTaskSpecification::downloadUrl(int versionNumber, const QString &serverName) {
    return QUrl(updateBaseUrl + QString::number(versionNumber) + QLatin1Char('/') + serverName,
                QUrl::TolerantMode);
}

void DownloadTaskSpecification::execute() {
    qDebug() << "Downloading" << m_ServerName;
    emit message(QStringLiteral("Downloading %1").arg(m_ServerName));
    m_State = Running;
    startDownload();
}

void DownloadTaskSpecification::startDownload() {
    // Unbuffered: the body is written in batches already, a file buffer
    // would only copy every byte once more.
    if (!m_File.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        emit error(QStringLiteral("Unable to create file %1 for saving").arg(m_File.fileName()));
        taskFailed();
        return;
    }
    const QUrl url = downloadUrl(m_VersionNumber, m_ServerName);
    QNetworkRequest request(url);
    // Redirects are refused by the status rule; make sure no manager-wide
    // policy follows them behind our back.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // With a known size the manager can receive into one buffer of that size
    // instead of a chain of small ones: half the CPU time per byte, no header
    // is added, and a body larger than announced takes the ordinary path.
    if (m_InitialExpectedBytes > 0 && m_InitialExpectedBytes <= kWholeBodyBufferLimit) {
        request.setAttribute(QNetworkRequest::MaximumDownloadBufferSizeAttribute,
                             int(m_InitialExpectedBytes));
    }
    qDebug() << "Requesting download of" << url;
    m_Reply = m_NetworkManager->get(request);
    if (m_Reply == nullptr) {
        m_File.close();
        emit error(QStringLiteral("Download failed to initialize"));
        taskFailed();
        return;
    }
    if (!m_Reply->isRunning()) {
        retryOrFail(m_Reply->errorString());
        return;
    }
    connect(m_Reply, &QNetworkReply::downloadProgress, this,
            &DownloadTaskSpecification::onDownloadProgress);
    connect(m_Reply, &QNetworkReply::readyRead, this, &DownloadTaskSpecification::onReadyRead);
    connect(m_Reply, &QNetworkReply::finished, this,
            &DownloadTaskSpecification::onDownloadFinished);
    connect(m_Reply, &QNetworkReply::metaDataChanged, this,
            &DownloadTaskSpecification::onMetaDataChanged);
}

bool DownloadTaskSpecification::retryOrFail(const QString &reason) {
    resetTransfer();
    emit message(reason);
    if (m_Retries < kMaxRetries) {
        ++m_Retries;
        startDownload();
        return true;
    }
    emit message(QStringLiteral("Unable to download %1").arg(m_ServerName));
    m_File.remove();
    taskFailed();
    return false;
}

void DownloadTaskSpecification::releaseReply() {
    if (m_Reply == nullptr) {
        return;
    }
    m_Reply->disconnect(this);
    // deleteLater, not delete: this may run inside one of the reply's own
    // signals. Deleting the reply also aborts its transfer.
    m_Reply->deleteLater();
    m_Reply = nullptr;
}

void DownloadTaskSpecification::resetTransfer() {
    releaseReply();
    m_StallTicks = 0;
    if (m_File.isOpen()) {
        m_File.close();
        m_File.remove();
    }
    m_LastSampleBytes = 0;
    m_ExpectedBytes = m_InitialExpectedBytes;
    m_ReceivedBytes = 0;
    // The next attempt rewrites the file from byte 0, so its digest starts
    // from nothing as well.
    m_BodyDigest.restart();
    m_BodyDigestHex.clear();
    setProgress(0);
}

qint64 DownloadTaskSpecification::bodyLimit() const {
    return m_InitialExpectedBytes >= 0 ? m_InitialExpectedBytes : kUnknownSizeLimit;
}

bool DownloadTaskSpecification::readAvailable() {
    while (m_Reply != nullptr) {
        m_StallTicks = 0;
        const qint64 got = readBatch();
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            retryOrFail(m_Reply->errorString());
            return false;
        }
        // Checked before writing, so that the file never exceeds the bound:
        // an endless body from the server must not fill the disk.
        if (got > bodyLimit() - m_ReceivedBytes) {
            retryOrFail(
                QStringLiteral("%1 sent more than %2 bytes").arg(m_ServerName).arg(bodyLimit()));
            return false;
        }
        if (!writeBatch(got)) {
            return false;
        }
        if (m_DigestBody) {
            m_Batch.truncate(int(got));
            m_BodyDigest.add(m_Batch);
        }
        m_ReceivedBytes += got;
        if (m_ExpectedBytes > 0) {
            setProgress(qMin(1.0, double(m_ReceivedBytes) / double(m_ExpectedBytes)));
        }
    }
    return true;
}

qint64 DownloadTaskSpecification::readBatch() {
    // Writing into a batch the digest still holds would copy it first;
    // a fresh one is cheaper. Otherwise the old allocation is reused.
    if (!m_Batch.isDetached()) {
        m_Batch = QByteArray();
    }
    m_Batch.resize(int(kBatchBytes));
    char *const batch = m_Batch.data();
    qint64 filled = 0;
    while (kBatchBytes - filled >= kReadChunkBytes) {
        const qint64 available = m_Reply->bytesAvailable();
        if (available <= 0) {
            break;
        }
        const qint64 got = m_Reply->read(batch + filled, qMin(available, kReadChunkBytes));
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        filled += got;
    }
    return filled;
}

bool DownloadTaskSpecification::writeBatch(qint64 size) {
    const qint64 written = m_File.write(m_Batch.constData(), size);
    if (written < 0) {
        retryOrFail(m_File.errorString());
        return false;
    }
    if (written != size) {
        retryOrFail(
            QStringLiteral("Error writing to file %1. Should write %2 bytes but wrote %3 bytes")
                .arg(m_File.fileName())
                .arg(size)
                .arg(written));
        return false;
    }
    return true;
}

void DownloadTaskSpecification::onReadyRead() {
    readAvailable();
}

void DownloadTaskSpecification::onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal) {
    Q_UNUSED(bytesReceived)
    if (bytesTotal > 0 && m_ExpectedBytes == -1) {
        m_ExpectedBytes = bytesTotal;
    }
}

void DownloadTaskSpecification::onMetaDataChanged() {
    if (m_Reply == nullptr) {
        return;
    }
    const QVariant status = m_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200) {
        retryOrFail(QStringLiteral("%1 returned %2").arg(m_ServerName).arg(status.toInt()));
    }
}

void DownloadTaskSpecification::onDownloadFinished() {
    if (m_Reply == nullptr) {
        return;
    }
    if (m_Reply->error() != QNetworkReply::NoError) {
        if (m_Reply->error() == QNetworkReply::AuthenticationRequiredError) {
            m_Reply->close();
        }
        retryOrFail(m_Reply->errorString());
        return;
    }
    if (!readAvailable()) {
        return;
    }
    if (!m_DigestBody) {
        completeAttempt();
        return;
    }
    // The reply stays set until the digest has caught up with the writes, so
    // that a cancel or a sibling's failure meanwhile ends the attempt as it
    // would during the transfer. A restart drops the pending result.
    m_BodyDigest.finishLater(this, [this](const QString &hexDigest) {
        m_BodyDigestHex = hexDigest;
        completeAttempt();
    });
}

void DownloadTaskSpecification::completeAttempt() {
    // Buffered bytes not yet on disk, or a file removed behind our back,
    // would otherwise be reported as a complete download.
    if (!m_File.flush()) {
        retryOrFail(m_File.errorString());
        return;
    }
    if (!m_File.exists()) {
        retryOrFail(QStringLiteral("File %1 vanished before the download completed")
                        .arg(m_File.fileName()));
        return;
    }
    m_Reply->close();
    releaseReply();
    m_File.close();
    downloadFinished();
}

void DownloadTaskSpecification::downloadFinished() {
    qDebug() << "Download finished:" << m_ServerName << m_File.fileName() << m_File.isOpen()
             << m_File.exists();
    emit message(QStringLiteral("Downloading %1 finished").arg(m_ServerName));
    taskFinished();
}

void DownloadTaskSpecification::getDownloadProgress(quint64 &done, quint64 &total, quint64 &speed,
                                                    bool &downloading) {
    done = quint64(m_ReceivedBytes);
    total = m_ExpectedBytes < 0 ? 0 : quint64(m_ExpectedBytes);
    speed = quint64(m_ReceivedBytes - m_LastSampleBytes);
    m_LastSampleBytes = m_ReceivedBytes;
    if (m_State != Running || m_Reply == nullptr) {
        return;
    }
    if (m_StallTicks++ < kStallLimit) {
        downloading = true;
        return;
    }
    retryOrFail(QStringLiteral("file %1 timed out").arg(m_ServerName));
}

void DownloadTaskSpecification::cancel() {
    TaskSpecification::cancel();
    if (m_State == Running) {
        resetTransfer();
        taskCanceled();
    }
}

void DownloadTaskSpecification::handleOtherTaskCancelled(TaskSpecification *other) {
    Q_UNUSED(other)
    if (m_Reply != nullptr) {
        emit message(QStringLiteral("Abort downloading %1").arg(m_ServerName));
        resetTransfer();
    }
    taskFailed();
}

void DownloadTaskSpecification::reset() {
    resetTransfer();
    m_Retries = 0;
    TaskSpecification::reset();
}

DownloadFileTaskSpecification::DownloadFileTaskSpecification(const DownloadItem &item,
                                                             QNetworkAccessManager *networkManager,
                                                             Configuration *configuration,
                                                             QObject *parent, double weight)
    : ComposedTaskSpecification(1, parent, weight),
      m_Item(item),
      m_NetworkManager(networkManager),
      m_Configuration(configuration) {}

void DownloadFileTaskSpecification::execute() {
    const QString localPath = m_Configuration->m_TempDir + QLatin1Char('/') + m_Item.name;
    // A listed size beyond qint64 cannot be met by any body; it is treated
    // as unknown and gets the general bound.
    const qint64 expected =
        m_Item.size > quint64(std::numeric_limits<qint64>::max()) ? -1 : qint64(m_Item.size);
    m_Transfer = new DownloadTaskSpecification(
        m_NetworkManager, m_Item.section + QLatin1Char('/') + m_Item.name,
        m_Configuration->m_VersionNumber, localPath, expected, this, kTransferWeight);
    m_Transfer->enableBodyDigest();
    addSubtask(m_Transfer);
    addSubtask(new ReceivedFileCheckTaskSpecification(m_Transfer, m_Item.hash, this, kCheckWeight));
    m_State = Running;
    startSubtasks();
}

void DownloadFileTaskSpecification::reset() {
    clearSubtasks();
    m_Transfer = nullptr;
    resetTaskState();
}

DownloadFileListTaskSpecification::DownloadFileListTaskSpecification(
    QList<DownloadItem> *downloadList, QNetworkAccessManager *networkManager,
    Configuration *configuration, QObject *parent, double weight)
    : ComposedTaskSpecification(configuration->m_Streams, parent, weight),
      m_DownloadList(downloadList),
      m_NetworkManager(networkManager),
      m_Configuration(configuration) {}

void DownloadFileListTaskSpecification::execute() {
    if (m_DownloadList->isEmpty()) {
        emit message(QStringLiteral("No downloads needed"));
        taskFinished();
        return;
    }
    if (!createDirectories()) {
        return;
    }
    emit message(QStringLiteral("Downloading files"));
    const double share = 1.0 / double(m_DownloadList->size());
    for (const DownloadItem &item : qAsConst(*m_DownloadList)) {
        addSubtask(new DownloadFileTaskSpecification(item, m_NetworkManager, m_Configuration, this,
                                                     share));
        m_TotalBytes += qint64(item.size);
    }
    m_State = Running;
    startSubtasks();
}

bool DownloadFileListTaskSpecification::createDirectories() {
    const QDir tempDir(m_Configuration->m_TempDir);
    QSet<QString> made{QStringLiteral(".")};
    for (const DownloadItem &item : qAsConst(*m_DownloadList)) {
        const QString relative = QFileInfo(item.name).path();
        if (made.contains(relative)) {
            continue;
        }
        if (!tempDir.mkpath(relative)) {
            emit message(QStringLiteral("Could not create dir %1")
                             .arg(tempDir.canonicalPath() + QLatin1Char('/') + relative));
            taskFailed();
            return false;
        }
        made.insert(relative);
    }
    return true;
}

void DownloadFileListTaskSpecification::reset() {
    clearSubtasks();
    m_TotalBytes = 0;
    resetTaskState();
}

void DownloadFileListTaskSpecification::getDownloadProgress(quint64 &done, quint64 &total,
                                                            quint64 &speed, bool &downloading) {
    ComposedTaskSpecification::getDownloadProgress(done, total, speed, downloading);
    total = quint64(m_TotalBytes);
}
