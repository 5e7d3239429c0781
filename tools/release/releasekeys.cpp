#include "releasekeys.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <vector>

const QString ReleaseKeys::kPrivateKeyName = QStringLiteral("private.der");
const QString ReleaseKeys::kPublicKeyName = QStringLiteral("public.der");
const QString ReleaseKeys::kSignatureSuffix = QStringLiteral(".sig");

namespace {

bool readWhole(const QString &path, QByteArray *data, QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    *data = file.readAll();
    if (data->size() != file.size()) {
        *error = QStringLiteral("cannot read %1 completely").arg(path);
        return false;
    }
    return true;
}

// Creates path exclusively with the given mode and writes block into it.
bool writeNewKeyFile(const QString &path, const std::vector<unsigned char> &der, mode_t mode,
                     QString *error) {
    std::vector<unsigned char> block = der;
    block.resize(RsaCrypt::kKeyFileSize, 0);
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        *error = QStringLiteral("cannot create %1 (it must not exist yet)").arg(path);
        return false;
    }
    const ssize_t written = ::write(fd, block.data(), block.size());
    const bool closed = ::close(fd) == 0;
    if (written != static_cast<ssize_t>(block.size()) || !closed) {
        QFile::remove(path);
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

bool importKeyFile(const QString &path, RsaKey *key, QString *error) {
    QByteArray data;
    if (!readWhole(path, &data, error)) {
        return false;
    }
    try {
        *key = RsaCrypt::importKey(reinterpret_cast<const unsigned char *>(data.constData()),
                                   static_cast<std::size_t>(data.size()));
    } catch (const crypt_exception &e) {
        *error =
            QStringLiteral("%1 is not an RSA key file (%2)").arg(path, QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

}  // namespace

bool ReleaseKeys::generate(const QString &outDir, QString *error) {
    if (!QDir().mkpath(outDir)) {
        *error = QStringLiteral("cannot create directory %1").arg(outDir);
        return false;
    }
    const QString privatePath = QDir(outDir).filePath(kPrivateKeyName);
    const QString publicPath = QDir(outDir).filePath(kPublicKeyName);
    if (QFile::exists(privatePath) || QFile::exists(publicPath)) {
        *error = QStringLiteral("%1 already holds a key pair; not overwriting it").arg(outDir);
        return false;
    }
    try {
        RsaKey key = RsaCrypt::makeKey();
        if (!writeNewKeyFile(privatePath, RsaCrypt::exportKey(key, true), 0600, error)) {
            return false;
        }
        if (!writeNewKeyFile(publicPath, RsaCrypt::exportKey(key, false), 0644, error)) {
            QFile::remove(privatePath);
            return false;
        }
    } catch (const crypt_exception &e) {
        *error = QString::fromUtf8(e.what());
        return false;
    }
    return true;
}

bool ReleaseKeys::loadPrivate(const QString &path, RsaKey *key, QString *error) {
    if (!importKeyFile(path, key, error)) {
        return false;
    }
    if (!key->isPrivate()) {
        *error = QStringLiteral("%1 is a public key; signing needs the private key").arg(path);
        return false;
    }
    return true;
}

bool ReleaseKeys::loadPublic(const QString &path, RsaKey *key, QString *error) {
    return importKeyFile(path, key, error);
}

bool ReleaseKeys::sign(const QString &file, RsaKey &privateKey, QString *error) {
    QByteArray data;
    if (!readWhole(file, &data, error)) {
        return false;
    }
    std::vector<unsigned char> signature;
    try {
        signature = RsaCrypt::sign(reinterpret_cast<const unsigned char *>(data.constData()),
                                   static_cast<std::size_t>(data.size()), privateKey);
    } catch (const crypt_exception &e) {
        *error = QString::fromUtf8(e.what());
        return false;
    }
    QSaveFile out(file + kSignatureSuffix);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char *>(signature.data()),
                  static_cast<qint64>(signature.size())) != static_cast<qint64>(signature.size()) ||
        !out.commit()) {
        *error = QStringLiteral("cannot write %1").arg(file + kSignatureSuffix);
        return false;
    }
    return true;
}

bool ReleaseKeys::verify(const QString &file, RsaKey &key, bool *valid, QString *error) {
    QByteArray data;
    QByteArray signature;
    if (!readWhole(file, &data, error) || !readWhole(file + kSignatureSuffix, &signature, error)) {
        return false;
    }
    try {
        *valid = RsaCrypt::verify(reinterpret_cast<const unsigned char *>(data.constData()),
                                  static_cast<std::size_t>(data.size()),
                                  reinterpret_cast<const unsigned char *>(signature.constData()),
                                  static_cast<std::size_t>(signature.size()), key);
    } catch (const crypt_exception &) {
        // A signature of the wrong length or structure is simply not valid.
        *valid = false;
    }
    return true;
}

bool ReleaseKeys::isBuiltInKey(RsaKey &key) {
    try {
        RsaKey builtIn = RsaCrypt::builtInKey();
        return RsaCrypt::exportKey(builtIn, false) == RsaCrypt::exportKey(key, false);
    } catch (const crypt_exception &) {
        return false;
    }
}
