#pragma once

#include <QString>

#include "rsacrypt.h"

/// Key files and detached signatures of a release, on the updater's RSA
/// layer. RsaCrypt::registerAlgorithms() must have run. Every operation
/// returns false with a one-line reason in *error instead of throwing.
class ReleaseKeys {
public:
    ReleaseKeys() = delete;

    static const QString kPrivateKeyName;   ///< "private.der"
    static const QString kPublicKeyName;    ///< "public.der"
    static const QString kSignatureSuffix;  ///< ".sig"

    /// Makes a new 1024-bit key pair and writes outDir/private.der (mode
    /// 0600) and outDir/public.der as key files. Existing key files are
    /// never overwritten: a lost private key cannot be made again.
    static bool generate(const QString &outDir, QString *error);

    /// Reads a key file that must hold a private key.
    static bool loadPrivate(const QString &path, RsaKey *key, QString *error);
    /// Reads a key file; a private key file is accepted for its public half.
    static bool loadPublic(const QString &path, RsaKey *key, QString *error);

    /// Signs the file's whole content and writes the signature to
    /// file + ".sig" (replaced atomically).
    static bool sign(const QString &file, RsaKey &privateKey, QString *error);
    /// Checks file against file + ".sig" as the updater does; *valid tells
    /// the outcome. False only when the files cannot be read.
    static bool verify(const QString &file, RsaKey &key, bool *valid, QString *error);

    /// True when the public half of key is the key built into the updater,
    /// so that installed updaters of this build accept what it signs.
    static bool isBuiltInKey(RsaKey &key);
};
