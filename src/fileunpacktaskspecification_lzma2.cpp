#include "fileunpacktaskspecification_lzma2.h"

#include <QDebug>

#include "vxdelta.h"

FileUnpackTaskSpecification_lzma2::FileUnpackTaskSpecification_lzma2(RollbackDataList *rollback,
                                                                     const QString &srcFile,
                                                                     const QString &dstFile,
                                                                     QObject *parent, double weight)
    : SlowFileOpSpecification(QStringLiteral("Could not unpack '%1' to '%2'").arg(srcFile, dstFile),
                              rollback, srcFile, dstFile, parent, weight) {}

ASyncFunc *FileUnpackTaskSpecification_lzma2::createFunc() {
    return new FileUnpackFunc_lzma2(m_SrcFile, m_DstFile);
}

FileUnpackFunc_lzma2::FileUnpackFunc_lzma2(const QString &srcFile, const QString &dstFile)
    : SlowFileOpFunc(srcFile, dstFile) {}

bool FileUnpackFunc_lzma2::run() {
    return unpackFile(m_SrcFile, m_DstFile);
}

bool FileUnpackFunc_lzma2::unpackFile(const QString &srcFile, const QString &dstFile) {
    const QByteArray src = srcFile.toUtf8();
    const QByteArray dst = dstFile.toUtf8();
    const bool res = vxdelta::DecompressFile(src.constData(), dst.constData());
    qDebug() << "unpackFile" << srcFile << dstFile << res;
    return res;
}
