#include "rsacrypt.h"

#include <atomic>
#include <fstream>
#include <utility>

#include "vxm_build_config.h"

crypt_exception::crypt_exception(const char *message) : m_Message(message) {}

crypt_exception::crypt_exception(std::string message) : m_Message(std::move(message)) {}

const char *crypt_exception::what() const noexcept {
    return m_Message.c_str();
}

RsaKey::~RsaKey() {
    release();
}

RsaKey::RsaKey(RsaKey &&other) noexcept : m_Key(other.m_Key), m_Valid(other.m_Valid) {
    other.m_Key = rsa_key{};
    other.m_Valid = false;
}

RsaKey &RsaKey::operator=(RsaKey &&other) noexcept {
    if (this != &other) {
        release();
        m_Key = other.m_Key;
        m_Valid = other.m_Valid;
        other.m_Key = rsa_key{};
        other.m_Valid = false;
    }
    return *this;
}

void RsaKey::release() {
    if (m_Valid) {
        rsa_free(&m_Key);
        m_Valid = false;
    }
}

namespace {

// Written once by registerAlgorithms() on the main thread before any worker
// starts; read-only afterwards.
int g_HashIndex = -1;
int g_PrngIndex = -1;
std::atomic<bool> g_Registered{false};

// The library aborts the process on null pointer arguments, even for empty
// buffers, so empty inputs are handed over as a pointer to this byte.
const unsigned char kEmpty = 0;

const unsigned char *orEmpty(const unsigned char *data) {
    return data != nullptr ? data : &kEmpty;
}

void check(int status, const char *operation) {
    if (status != CRYPT_OK) {
        throw crypt_exception(std::string(operation) + ": " + error_to_string(status));
    }
}

// Every operation needs the math provider and the registered indices; without
// them the library would call through null function pointers.
void requireReady(const RsaKey *key, const char *operation) {
    if (!g_Registered.load()) {
        throw crypt_exception(std::string(operation) + ": algorithms not registered");
    }
    if (key != nullptr && !key->isValid()) {
        throw crypt_exception(std::string(operation) + ": no key");
    }
}

std::vector<unsigned char> sha1Of(const unsigned char *message, std::size_t length,
                                  const char *operation) {
    std::vector<unsigned char> digest(MAXBLOCKSIZE);
    unsigned long digestLength = digest.size();
    check(hash_memory(g_HashIndex, orEmpty(message), length, digest.data(), &digestLength),
          operation);
    digest.resize(digestLength);
    return digest;
}

}  // namespace

void RsaCrypt::registerAlgorithms() {
    ltc_mp = ltm_desc;
    if (register_prng(&sprng_desc) == -1) {
        throw crypt_exception("Error registering sprng");
    }
    if (register_hash(&sha1_desc) == -1) {
        throw crypt_exception("Error registering sha1");
    }
    g_HashIndex = find_hash("sha1");
    g_PrngIndex = find_prng("sprng");
    g_Registered.store(true);
}

RsaKey RsaCrypt::importKey(const unsigned char *data, std::size_t length) {
    requireReady(nullptr, "rsa_import");
    // The library aborts the process on an empty input instead of failing.
    if (length == 0) {
        check(CRYPT_INVALID_PACKET, "rsa_import");
    }
    RsaKey key;
    check(rsa_import(orEmpty(data), length, &key.m_Key), "rsa_import");
    key.m_Valid = true;
    return key;
}

RsaKey RsaCrypt::builtInKey() {
    return importKey(vxm::build::kPublicKeyBlock, vxm::build::kPublicKeyBlockSize);
}

bool RsaCrypt::verify(const unsigned char *message, std::size_t messageLength,
                      const unsigned char *signature, std::size_t signatureLength, RsaKey &key) {
    requireReady(&key, "rsa_verify_hash");
    const std::vector<unsigned char> digest = sha1Of(message, messageLength, "rsa_verify_hash");
    int valid = 0;
    check(rsa_verify_hash(orEmpty(signature), signatureLength, digest.data(), digest.size(),
                          g_HashIndex, kSaltLength, &valid, &key.m_Key),
          "rsa_verify_hash");
    return valid == 1;
}

std::vector<unsigned char> RsaCrypt::sign(const unsigned char *message, std::size_t messageLength,
                                          RsaKey &key) {
    requireReady(&key, "rsa_sign_hash");
    const std::vector<unsigned char> digest = sha1Of(message, messageLength, "rsa_sign_hash");
    std::vector<unsigned char> signature(static_cast<std::size_t>(rsa_get_size(&key.m_Key)));
    unsigned long signatureLength = signature.size();
    prng_state prng{};
    check(rsa_sign_hash(digest.data(), digest.size(), signature.data(), &signatureLength, &prng,
                        g_PrngIndex, g_HashIndex, kSaltLength, &key.m_Key),
          "rsa_sign_hash");
    signature.resize(signatureLength);
    return signature;
}

RsaKey RsaCrypt::makeKey() {
    requireReady(nullptr, "rsa_make_key");
    RsaKey key;
    prng_state prng{};
    check(rsa_make_key(&prng, g_PrngIndex, kModulusBytes, kPublicExponent, &key.m_Key),
          "rsa_make_key");
    key.m_Valid = true;
    return key;
}

std::vector<unsigned char> RsaCrypt::exportKey(RsaKey &key, bool privateHalf) {
    requireReady(&key, "rsa_export");
    std::vector<unsigned char> der(kKeyFileSize * 2);
    unsigned long derLength = der.size();
    check(rsa_export(der.data(), &derLength, privateHalf ? PK_PRIVATE : PK_PUBLIC, &key.m_Key),
          "rsa_export");
    der.resize(derLength);
    return der;
}

void RsaCrypt::exportToFile(RsaKey &key, bool privateHalf, const std::string &path) {
    std::vector<unsigned char> block = exportKey(key, privateHalf);
    if (block.size() > kKeyFileSize) {
        throw crypt_exception("rsa_export: key does not fit a key file");
    }
    block.resize(kKeyFileSize, 0);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) {
        out.write(reinterpret_cast<const char *>(block.data()),
                  static_cast<std::streamsize>(block.size()));
    }
    if (!out) {
        throw crypt_exception("Cannot open file for writing: " + path);
    }
}

RsaKey RsaCrypt::importFromFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw crypt_exception("Cannot open file for reading: " + path);
    }
    std::vector<unsigned char> block(kKeyFileSize);
    in.read(reinterpret_cast<char *>(block.data()), static_cast<std::streamsize>(block.size()));
    if (in.bad()) {
        throw crypt_exception("Cannot open file for reading: " + path);
    }
    block.resize(static_cast<std::size_t>(in.gcount()));
    return importKey(block.data(), block.size());
}
