#include "filehash.h"

#include <QFile>

#include <array>

#include "sha512accumulator.h"

namespace {

/// Read size: large enough that the reads cost little next to the digest,
/// small enough to live on the stack, so that hashing many files allocates
/// (and page-faults in) no fresh buffer per file.
constexpr qint64 kBlockSize = 64 * 1024;

}  // namespace

FileHash::Status FileHash::sha512Hex(const QString &path, QString *hexDigest) {
    hexDigest->clear();
    QFile file(path);
    // Unbuffered: every read goes straight into the block, without a copy
    // through the device's own buffer.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        return Status::OpenFailed;
    }
    Sha512Accumulator digest;
    // The size at opening is the content: a file that shrinks while it is read
    // is a read failure, bytes appended meanwhile are not part of it.
    const qint64 size = file.size();
    std::array<char, kBlockSize> block;
    qint64 remaining = size;
    while (remaining > 0) {
        const qint64 got = file.read(block.data(), qMin(remaining, kBlockSize));
        if (got <= 0 || !digest.add(block.data(), got)) {
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
