#include "sha512accumulator.h"

#include <QByteArray>

#include <openssl/evp.h>

struct Sha512Accumulator::Context {
    Context() : digest(EVP_MD_CTX_new()) {}
    ~Context() { EVP_MD_CTX_free(digest); }
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    EVP_MD_CTX *digest;
};

Sha512Accumulator::Sha512Accumulator() : m_Context(std::make_unique<Context>()) {
    restart();
}

Sha512Accumulator::~Sha512Accumulator() = default;

void Sha512Accumulator::restart() {
    m_Usable = m_Context->digest != nullptr &&
               EVP_DigestInit_ex(m_Context->digest, EVP_sha512(), nullptr) == 1;
}

bool Sha512Accumulator::add(const char *data, qint64 size) {
    if (m_Usable && size > 0) {
        m_Usable = EVP_DigestUpdate(m_Context->digest, data, static_cast<size_t>(size)) == 1;
    }
    return m_Usable;
}

QString Sha512Accumulator::finishHex() {
    if (!m_Usable) {
        return QString();
    }
    m_Usable = false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_Context->digest, digest, &length) != 1) {
        return QString();
    }
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(digest), static_cast<int>(length)).toHex());
}
