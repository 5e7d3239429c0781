#include "fileunpacktaskspecification_lzma2.h"

#include <QDebug>
#include <QFile>
#include <cstdio>

#include "vxdelta.h"

FileUnpackTaskSpecification_lzma2::FileUnpackTaskSpecification_lzma2(RollbackDataList *rollback,
                                                                     const QString &srcFile,
                                                                     const QString &dstFile,
                                                                     QObject *parent, double weight,
                                                                     UnpackPublish publish)
    : SlowFileOpSpecification(QStringLiteral("Could not unpack '%1' to '%2'").arg(srcFile, dstFile),
                              rollback, srcFile, dstFile, parent, weight),
      m_Publish(publish) {}

ASyncFunc *FileUnpackTaskSpecification_lzma2::createFunc() {
    return new FileUnpackFunc_lzma2(m_SrcFile, m_DstFile, m_Publish);
}

FileUnpackFunc_lzma2::FileUnpackFunc_lzma2(const QString &srcFile, const QString &dstFile,
                                           UnpackPublish publish)
    : SlowFileOpFunc(srcFile, dstFile), m_Publish(publish) {}

bool FileUnpackFunc_lzma2::run() {
    return m_Publish == UnpackPublish::WhenComplete ? unpackFileWhole(m_SrcFile, m_DstFile)
                                                    : unpackFile(m_SrcFile, m_DstFile);
}

bool FileUnpackFunc_lzma2::unpackFile(const QString &srcFile, const QString &dstFile) {
    const QByteArray src = srcFile.toUtf8();
    const QByteArray dst = dstFile.toUtf8();
    const bool res = vxdelta::DecompressFile(src.constData(), dst.constData());
    qDebug() << "unpackFile" << srcFile << dstFile << res;
    return res;
}

bool FileUnpackFunc_lzma2::unpackFileWhole(const QString &srcFile, const QString &dstFile) {
    const QString aside = dstFile + QLatin1String(".unpacking");
    // rename(2) replaces an existing destination in one step, which
    // QFile::rename does not.
    const bool res =
        unpackFile(srcFile, aside) && std::rename(QFile::encodeName(aside).constData(),
                                                  QFile::encodeName(dstFile).constData()) == 0;
    if (!res) {
        QFile::remove(aside);
    }
    return res;
}
