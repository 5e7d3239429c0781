#include "checksignaturetaskspecification.h"

#include <QDebug>
#include <QFile>

#include "filehash.h"
#include "rsacrypt.h"

CheckSigFunc::CheckSigFunc(const QString &fileName, const QString &expectedHash)
    : m_FileName(fileName), m_ExpectedHash(expectedHash) {}

bool CheckSigFunc::run() {
    return m_ExpectedHash.isEmpty() ? checkRSA() : checkSHA512();
}

bool CheckSigFunc::checkSHA512() {
    QString digest;
    switch (FileHash::sha512Hex(m_FileName, &digest)) {
        case FileHash::Status::OpenFailed:
            emit message(QStringLiteral("Could not open file %1 for reading").arg(m_FileName));
            return false;
        case FileHash::Status::ReadFailed:
            emit message(QStringLiteral("could not read file %1 correctly").arg(m_FileName));
            return false;
        case FileHash::Status::Ok:
            break;
    }
    return digestMatches(m_ExpectedHash, digest);
}

bool CheckSigFunc::digestMatches(const QString &expectedHash, const QString &computedHex) {
    const bool match = FileHash::sameHash(computedHex, expectedHash);
    qDebug() << "SHA512 check:" << expectedHash << computedHex << "=>" << match;
    return match;
}

bool CheckSigFunc::checkRSA() {
    QByteArray content;
    if (!readFile(m_FileName, &content)) {
        qDebug() << "RSA check failed, could not read" << m_FileName;
        return false;
    }
    const QString signaturePath = m_FileName + QStringLiteral(".sig");
    QByteArray signature;
    if (!readFile(signaturePath, &signature)) {
        qDebug() << "RSA check failed, could not read" << signaturePath;
        return false;
    }
    try {
        RsaKey key = RsaCrypt::builtInKey();
        const bool valid =
            RsaCrypt::verify(reinterpret_cast<const unsigned char *>(content.constData()),
                             static_cast<std::size_t>(content.size()),
                             reinterpret_cast<const unsigned char *>(signature.constData()),
                             static_cast<std::size_t>(signature.size()), key);
        qDebug() << "RSA check" << valid;
        return valid;
    } catch (const crypt_exception &e) {
        qDebug() << "RSA check failed, caught exception" << e.what();
        return false;
    }
}

bool CheckSigFunc::readFile(const QString &path, QByteArray *content) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        emit message(QStringLiteral("Could not open file %1 for reading").arg(path));
        return false;
    }
    *content = file.read(file.size());
    if (content->size() != file.size()) {
        emit message(QStringLiteral("could not read file %1 correctly").arg(path));
        return false;
    }
    return true;
}

CheckSignatureTaskSpecification::CheckSignatureTaskSpecification(const QString &fileName,
                                                                 const QString &expectedHash,
                                                                 bool failOnMismatch,
                                                                 QObject *parent, double weight)
    : ASyncTaskSpecification(parent, weight),
      m_FileName(fileName),
      m_ExpectedHash(expectedHash),
      m_FailOnMismatch(failOnMismatch) {}

ASyncFunc *CheckSignatureTaskSpecification::createFunc() {
    return new CheckSigFunc(m_FileName, m_ExpectedHash);
}

void CheckSignatureTaskSpecification::runDone(bool pass) {
    if (m_State != Running) {
        return;
    }
    if (pass) {
        emit checkDone(true, this);
        taskFinished();
        return;
    }
    qDebug() << "Signature check failed for" << m_FileName;
    emit message(QStringLiteral("Signature check failed for %1").arg(m_FileName));
    emit checkDone(false, this);
    if (m_FailOnMismatch) {
        taskFailed();
    } else {
        taskFinished();
    }
}
