#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

/// One channel of the version server's answer.
struct ChannelVersion {
    QString channel;  ///< "stable", "beta" or "alpha"
    int number = 0;
    QString text;
};

/// The version server's answer: one serialised Versions message.
class VersionsFile {
public:
    /// Parses the words after "versions": "--out FILE" and one entry
    /// CHANNEL=N:TEXT per channel. "stable" is required, "beta" and "alpha"
    /// are optional, each at most once; N is a positive decimal number and
    /// TEXT is not empty (it may contain ':').
    bool parse(const QStringList &words, QString *error);

    QString outFile() const { return m_OutFile; }
    const QList<ChannelVersion> &channels() const { return m_Channels; }

    /// The serialised message: licenseAgreementId 1 and the channels in the
    /// order given.
    QByteArray serialize() const;
    /// Writes serialize() to outFile() atomically.
    bool write(QString *error) const;

private:
    bool parseEntry(const QString &word, QString *error);

    QString m_OutFile;
    QList<ChannelVersion> m_Channels;
};
