#include "filecopytaskspecification.h"

#include <QDebug>
#include <QFile>

FileCopyTaskSpecification::FileCopyTaskSpecification(RollbackDataList *rollback,
                                                     const QString &srcFile, const QString &dstFile,
                                                     QObject *parent, double weight)
    : SlowFileOpSpecification(QStringLiteral("Could not copy '%1' to '%2'").arg(srcFile, dstFile),
                              rollback, srcFile, dstFile, parent, weight) {}

ASyncFunc *FileCopyTaskSpecification::createFunc() {
    return new FileCopyFunc(m_SrcFile, m_DstFile);
}

FileCopyFunc::FileCopyFunc(const QString &srcFile, const QString &dstFile)
    : SlowFileOpFunc(srcFile, dstFile) {}

bool FileCopyFunc::run() {
    qDebug() << "run" << m_SrcFile << m_DstFile;
    return QFile::copy(m_SrcFile, m_DstFile);
}
