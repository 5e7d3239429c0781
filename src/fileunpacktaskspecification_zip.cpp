#include "fileunpacktaskspecification_zip.h"

#include <zlib.h>

#include <QFile>

namespace {

constexpr int kChunkSize = 16384;

/// Copies the decompressed stream into `dst`; true once the whole stream
/// was read and written.
bool copyStream(gzFile src, QFile &dst) {
    char buffer[kChunkSize];
    for (;;) {
        const int count = gzread(src, buffer, kChunkSize);
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            // A gzip stream cut short ends like a complete one, only with
            // Z_BUF_ERROR ("unexpected end of file") left behind.
            int status = Z_OK;
            gzerror(src, &status);
            return status == Z_OK;
        }
        if (dst.write(buffer, count) != count) {
            return false;
        }
    }
}

}  // namespace

FileUnpackTaskSpecification_zip::FileUnpackTaskSpecification_zip(RollbackDataList *rollback,
                                                                 const QString &srcFile,
                                                                 const QString &dstFile,
                                                                 QObject *parent, double weight)
    : SlowFileOpSpecification(QStringLiteral("Could not unzip '%1' to '%2'").arg(srcFile, dstFile),
                              rollback, srcFile, dstFile, parent, weight) {}

ASyncFunc *FileUnpackTaskSpecification_zip::createFunc() {
    return new FileUnpackFunc_Zip(m_SrcFile, m_DstFile);
}

FileUnpackFunc_Zip::FileUnpackFunc_Zip(const QString &srcFile, const QString &dstFile)
    : SlowFileOpFunc(srcFile, dstFile) {}

bool FileUnpackFunc_Zip::run() {
    const bool res = unzipFile(m_DstFile, m_SrcFile);
    if (!res) {
        QFile::remove(m_DstFile);
    }
    return res;
}

bool FileUnpackFunc_Zip::unzipFile(const QString &dstFile, const QString &srcFile) {
    QFile dst(dstFile);
    if (!dst.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    gzFile src = gzopen(srcFile.toUtf8().constData(), "rb");
    if (src == nullptr) {
        return false;
    }
    gzrewind(src);
    bool ok = copyStream(src, dst);
    ok = (gzclose(src) == Z_OK) && ok;
    ok = dst.flush() && ok;
    dst.close();
    if (!ok) {
        dst.remove();
    }
    return ok;
}
