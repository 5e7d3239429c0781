#include "filehash.h"

#include <QFile>

#include "sha512accumulator.h"

namespace {

constexpr qint64 kBlockSize = 1 << 20;

}  // namespace

FileHash::Status FileHash::sha512Hex(const QString &path, QString *hexDigest) {
    hexDigest->clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Status::OpenFailed;
    }
    Sha512Accumulator digest;
    // The size at opening is the content: a file that shrinks while it is read
    // is a read failure, bytes appended meanwhile are not part of it.
    const qint64 size = file.size();
    QByteArray block(static_cast<int>(qMin(size, kBlockSize)), Qt::Uninitialized);
    qint64 remaining = size;
    while (remaining > 0) {
        const qint64 got = file.read(block.data(), qMin(remaining, kBlockSize));
        if (got <= 0 || !digest.add(block.constData(), got)) {
            return Status::ReadFailed;
        }
        remaining -= got;
    }
    *hexDigest = digest.finishHex();
    return hexDigest->isEmpty() ? Status::ReadFailed : Status::Ok;
}

QString FileHash::sha512Hex(const QByteArray &data) {
    Sha512Accumulator digest;
    digest.add(data.constData(), data.size());
    return digest.finishHex();
}

bool FileHash::sameHash(const QString &hexDigest, const QString &expectedHash) {
    return !hexDigest.isEmpty() && hexDigest.compare(expectedHash, Qt::CaseInsensitive) == 0;
}
