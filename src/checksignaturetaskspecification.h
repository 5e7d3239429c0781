#pragma once

#include <QByteArray>
#include <QString>

#include "asynctaskspecification.h"

/// Checks one file: its SHA-512 against an expected hexadecimal hash, or, when
/// no hash is given, its RSA signature (the file's ".sig" companion) against
/// the built-in public key. Runs on a pool thread inside
/// CheckSignatureTaskSpecification, or directly on the caller's thread.
/// A check never throws; every problem yields false after a message (read
/// problems) or a log line (RSA problems).
class CheckSigFunc : public ASyncFunc {
    Q_OBJECT

public:
    CheckSigFunc(const QString &fileName, const QString &expectedHash);

    /// checkSHA512() when an expected hash is given, else checkRSA().
    bool run() override;
    /// True when the file's SHA-512 equals the expected hash (letters in any case).
    bool checkSHA512();
    /// True when the file's ".sig" companion is a valid signature of its content.
    bool checkRSA();

    /// The comparison of checkSHA512() for a digest computed elsewhere (lower-case
    /// hexadecimal; empty for a file that could not be read): logs it and
    /// returns whether it matches.
    static bool digestMatches(const QString &expectedHash, const QString &computedHex);

private:
    bool readFile(const QString &path, QByteArray *content);

    const QString m_FileName;
    const QString m_ExpectedHash;
};

/// The asynchronous task around CheckSigFunc. It always emits checkDone first,
/// then ends Finished on a pass; on a failed check it ends Failed when
/// failOnMismatch is set, Finished otherwise.
class CheckSignatureTaskSpecification : public ASyncTaskSpecification {
    Q_OBJECT

public:
    CheckSignatureTaskSpecification(const QString &fileName, const QString &expectedHash,
                                    bool failOnMismatch, QObject *parent, double weight);

    const QString &fileName() const { return m_FileName; }
    const QString &expectedHash() const { return m_ExpectedHash; }
    bool failOnMismatch() const { return m_FailOnMismatch; }

signals:
    void checkDone(bool pass, CheckSignatureTaskSpecification *task);

protected:
    ASyncFunc *createFunc() override;
    void runDone(bool pass) override;

private:
    const QString m_FileName;
    const QString m_ExpectedHash;
    const bool m_FailOnMismatch;
};
