#include "slowfileopspecification.h"

SlowFileOpSpecification::SlowFileOpSpecification(const QString &failMessage,
                                                 RollbackDataList *rollback, const QString &srcFile,
                                                 const QString &dstFile, QObject *parent,
                                                 double weight)
    : SlowFileOpSpecification(failMessage, rollback, srcFile, QString(), dstFile, parent, weight) {}

SlowFileOpSpecification::SlowFileOpSpecification(const QString &failMessage,
                                                 RollbackDataList *rollback, const QString &srcFile,
                                                 const QString &patchFile, const QString &dstFile,
                                                 QObject *parent, double weight)
    : ASyncTaskSpecification(parent, weight),
      m_Rollback(rollback),
      m_SrcFile(srcFile),
      m_PatchFile(patchFile),
      m_DstFile(dstFile),
      m_FailMessage(failMessage) {}

void SlowFileOpSpecification::runDone(bool res) {
    if (res && m_Rollback != nullptr) {
        m_Rollback->append(RollbackData(FILE_CREATE, m_DstFile));
    }
    if (!res) {
        emit message(m_FailMessage);
    }
    ASyncTaskSpecification::runDone(res);
}

SlowFileOpFunc::SlowFileOpFunc(const QString &srcFile, const QString &dstFile)
    : SlowFileOpFunc(srcFile, QString(), dstFile) {}

SlowFileOpFunc::SlowFileOpFunc(const QString &srcFile, const QString &patchFile,
                               const QString &dstFile)
    : m_SrcFile(srcFile), m_PatchFile(patchFile), m_DstFile(dstFile) {}
