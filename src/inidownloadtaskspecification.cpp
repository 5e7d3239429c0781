#include "inidownloadtaskspecification.h"

#include <QDebug>
#include <QFileInfo>

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"
#include "fileunpacktaskspecification_lzma2.h"

namespace {

/// Share of each file transfer; the unpack and the check take the rest.
constexpr double kDownloadWeight = 0.3333;
constexpr double kUnpackWeight = 1.0;
/// Size of a product ini file: not known before it arrives.
constexpr qint64 kUnknownSize = -1;

}  // namespace

IniDownloadTaskSpecification::IniDownloadTaskSpecification(QNetworkAccessManager *manager,
                                                           Configuration *configuration,
                                                           QObject *parent, double weight)
    : ComposedTaskSpecification(1, parent, weight),
      m_Manager(manager),
      m_Configuration(configuration) {}

QString IniDownloadTaskSpecification::iniName(int isClientUpdate) {
    return QLatin1String(isClientUpdate == 1 ? "vxm_" : "") +
           QLatin1String(isClientUpdate != 0 ? "client" : "update") + QLatin1String("_macosx.ini");
}

QString IniDownloadTaskSpecification::compressedName(int isClientUpdate) {
    return iniName(isClientUpdate) + QLatin1String("._lzma2_");
}

QString IniDownloadTaskSpecification::signatureName(int isClientUpdate) {
    return iniName(isClientUpdate) + QLatin1String(".sig");
}

QString IniDownloadTaskSpecification::tempPath(const QString &name) const {
    return m_Configuration->m_TempDir + QLatin1Char('/') + name;
}

void IniDownloadTaskSpecification::execute() {
    emit message(QStringLiteral("Download / check product ini"));
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::addDownload(const QString &name, double weight) {
    qDebug() << "Requesting" << name;
    addSubtask(new DownloadTaskSpecification(m_Manager, name, m_Configuration->m_VersionNumber,
                                             tempPath(name), kUnknownSize, this, weight));
}

namespace {

// A file counts as present when it holds bytes. A download or unpack creates
// its target before the first byte arrives, so a run killed at that moment
// leaves an empty file behind; taken as present it would fail the signature
// check in this session's every later run.
bool present(const QString &path) {
    return QFileInfo(path).size() > 0;
}

}  // namespace

void IniDownloadTaskSpecification::makeSubtasksAndStart() {
    const int pass = m_Configuration->m_IsClientUpdate;
    const QString ini = iniName(pass);
    const QString compressed = compressedName(pass);
    const QString signature = signatureName(pass);
    qDebug() << "makeSubtasksAndStart" << ini << compressed;
    double checkWeight = 1.0;
    if (!present(tempPath(ini))) {
        addDownload(compressed, kDownloadWeight);
        // Whole or absent: an ini cut short by an interrupted run would be
        // reused, and fail its check, in every later run of the session.
        addSubtask(new FileUnpackTaskSpecification_lzma2(nullptr, tempPath(compressed),
                                                         tempPath(ini), this, kUnpackWeight,
                                                         UnpackPublish::WhenComplete));
        checkWeight = 0.6667;
    }
    if (!present(tempPath(signature))) {
        addDownload(signature, kDownloadWeight);
        checkWeight -= kDownloadWeight;
    }
    auto *check =
        new CheckSignatureTaskSpecification(tempPath(ini), QString(), true, this, checkWeight);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this,
            &IniDownloadTaskSpecification::onSigCheckDone);
    addSubtask(check);
    m_State = Running;
    startSubtasks();
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass,
                                                  CheckSignatureTaskSpecification *task) {
    Q_UNUSED(task)
    if (pass) {
        return;
    }
    qDebug() << "Failed to verify product ini, aborting";
    emit message(QStringLiteral("Could not verify the product ini file. Aborting"));
    taskFailed();
}

void IniDownloadTaskSpecification::reset() {
    clearSubtasks();
    resetTaskState();
}
