#include "filehash.h"

#include <QFile>

#include <openssl/evp.h>
#include <memory>

namespace {

constexpr qint64 kBlockSize = 1 << 20;

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

DigestContext startSha512() {
    DigestContext context(EVP_MD_CTX_new());
    if (context && EVP_DigestInit_ex(context.get(), EVP_sha512(), nullptr) != 1) {
        context.reset();
    }
    return context;
}

QString finishHex(EVP_MD_CTX *context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) != 1) {
        return QString();
    }
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(digest), static_cast<int>(length)).toHex());
}

}  // namespace

FileHash::Status FileHash::sha512Hex(const QString &path, QString *hexDigest) {
    hexDigest->clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Status::OpenFailed;
    }
    DigestContext context = startSha512();
    if (!context) {
        return Status::ReadFailed;
    }
    // The size at opening is the content: a file that shrinks while it is read
    // is a read failure, bytes appended meanwhile are not part of it.
    const qint64 size = file.size();
    QByteArray block(static_cast<int>(qMin(size, kBlockSize)), Qt::Uninitialized);
    qint64 remaining = size;
    while (remaining > 0) {
        const qint64 got = file.read(block.data(), qMin(remaining, kBlockSize));
        if (got <= 0 || EVP_DigestUpdate(context.get(), block.constData(), got) != 1) {
            return Status::ReadFailed;
        }
        remaining -= got;
    }
    *hexDigest = finishHex(context.get());
    return hexDigest->isEmpty() ? Status::ReadFailed : Status::Ok;
}

QString FileHash::sha512Hex(const QByteArray &data) {
    DigestContext context = startSha512();
    if (!context || EVP_DigestUpdate(context.get(), data.constData(), data.size()) != 1) {
        return QString();
    }
    return finishHex(context.get());
}

bool FileHash::sameHash(const QString &hexDigest, const QString &expectedHash) {
    return !hexDigest.isEmpty() && hexDigest.compare(expectedHash, Qt::CaseInsensitive) == 0;
}
