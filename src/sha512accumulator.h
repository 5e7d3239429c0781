#pragma once

#include <QString>
#include <memory>

/// SHA-512 of a byte stream fed in pieces (libcrypto's implementation, the
/// one the updater's file checks use).
///
/// add() may be called any number of times between restart() and
/// finishHex(); after finishHex() the accumulator must be restarted before
/// it is fed again. A failure inside the library (or an add() without a
/// running digest) makes finishHex() return an empty text, which never
/// matches an expected hash.
class Sha512Accumulator {
public:
    /// Starts a digest at once, as restart() does.
    Sha512Accumulator();
    ~Sha512Accumulator();
    Sha512Accumulator(const Sha512Accumulator &) = delete;
    Sha512Accumulator &operator=(const Sha512Accumulator &) = delete;

    /// Discards what was fed so far and starts the digest of an empty stream.
    void restart();
    /// Feeds `size` bytes at `data`; false when the digest is unusable.
    bool add(const char *data, qint64 size);
    /// The digest of everything fed since restart() as 128 lower-case
    /// hexadecimal characters; empty on failure. Ends the digest.
    QString finishHex();

private:
    struct Context;
    std::unique_ptr<Context> m_Context;
    bool m_Usable = false;
};
