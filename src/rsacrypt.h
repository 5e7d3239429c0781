#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <vector>

#include <tomcrypt.h>

/// Failure of an RSA layer operation: "<operation>: <library error text>", or a
/// fixed text for registration and key file problems.
class crypt_exception : public std::exception {
public:
    explicit crypt_exception(const char *message);
    explicit crypt_exception(std::string message);
    const char *what() const noexcept override;

private:
    std::string m_Message;
};

/// One RSA key (public or private half) in libtomcrypt's representation.
/// Owns the key's numbers and frees them on destruction; movable, not copyable.
class RsaKey {
public:
    RsaKey() = default;
    ~RsaKey();
    RsaKey(RsaKey &&other) noexcept;
    RsaKey &operator=(RsaKey &&other) noexcept;
    RsaKey(const RsaKey &) = delete;
    RsaKey &operator=(const RsaKey &) = delete;

    /// True once a key has been imported or generated into this object.
    bool isValid() const { return m_Valid; }
    /// True for a key that holds the private half (can sign).
    bool isPrivate() const { return m_Valid && m_Key.type == PK_PRIVATE; }

private:
    friend class RsaCrypt;

    void release();

    rsa_key m_Key{};
    bool m_Valid = false;
};

/// The signature scheme of the product files: RSASSA-PSS with SHA-1 as the
/// message hash and as the MGF1 hash, salt length 8, over the SHA-1 digest of
/// the message. Every non-zero library status becomes a crypt_exception.
///
/// registerAlgorithms() must have run (once, before any other operation and
/// before worker threads use the layer); afterwards every operation is safe to
/// call from several threads at once, each with its own keys.
class RsaCrypt {
public:
    RsaCrypt() = delete;

    /// Salt length of the PSS encoding, in bytes.
    static constexpr int kSaltLength = 8;
    /// Modulus size of generated keys, in bytes (1024 bits).
    static constexpr int kModulusBytes = 128;
    /// Public exponent of generated keys.
    static constexpr long kPublicExponent = 65537;
    /// Size of a key file: the DER key followed by zero bytes.
    static constexpr std::size_t kKeyFileSize = 2048;

    /// Selects libtommath as the math provider and registers "sprng" and
    /// "sha1". Throws when a registration fails ("Error registering sha1").
    /// Repeating the call is harmless.
    static void registerAlgorithms();

    /// Imports a DER key (PKCS #1 RSAPublicKey or RSAPrivateKey, or an X.509
    /// SubjectPublicKeyInfo). Only the first DER structure is read, so a key
    /// block with trailing padding is accepted. Throws "rsa_import: ...".
    static RsaKey importKey(const unsigned char *data, std::size_t length);
    /// The public key built into the program (its whole 2048-byte block).
    static RsaKey builtInKey();

    /// True when signature is a valid signature of message under key. A
    /// signature that is well-formed but does not match yields false; one of
    /// the wrong length or structure throws "rsa_verify_hash: ...".
    static bool verify(const unsigned char *message, std::size_t messageLength,
                       const unsigned char *signature, std::size_t signatureLength, RsaKey &key);
    /// Signs message with a private key; the result has the modulus' length.
    /// Throws "rsa_sign_hash: ...".
    static std::vector<unsigned char> sign(const unsigned char *message, std::size_t messageLength,
                                           RsaKey &key);

    /// Generates a new 1024-bit key pair with exponent 65537. Throws "rsa_make_key: ...".
    static RsaKey makeKey();
    /// DER encoding (PKCS #1) of the public or, for a private key, the private half.
    static std::vector<unsigned char> exportKey(RsaKey &key, bool privateHalf);
    /// Writes a key file: the DER key at the start of a 2048-byte block.
    /// Throws "Cannot open file for writing: <path>" when the file cannot be written.
    static void exportToFile(RsaKey &key, bool privateHalf, const std::string &path);
    /// Reads a key file (or a plain DER file of at most 2048 bytes). Throws
    /// "Cannot open file for reading: <path>" when it cannot be read.
    static RsaKey importFromFile(const std::string &path);
};
