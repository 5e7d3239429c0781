#include "versionsfile.h"

#include <QSaveFile>
#include <string>

#include "UpdateMessage.pb.h"

bool VersionsFile::parse(const QStringList &words, QString *error) {
    for (int i = 0; i < words.size(); ++i) {
        const QString &word = words.at(i);
        if (word == QLatin1String("--out")) {
            if (i + 1 >= words.size() || !m_OutFile.isEmpty()) {
                *error = QStringLiteral("--out needs one value");
                return false;
            }
            m_OutFile = words.at(++i);
        } else if (!parseEntry(word, error)) {
            return false;
        }
    }
    if (m_OutFile.isEmpty()) {
        *error = QStringLiteral("--out is required");
        return false;
    }
    for (const ChannelVersion &channel : qAsConst(m_Channels)) {
        if (channel.channel == QLatin1String("stable")) {
            return true;
        }
    }
    *error = QStringLiteral("a stable=N:TEXT entry is required");
    return false;
}

bool VersionsFile::parseEntry(const QString &word, QString *error) {
    static const QStringList kChannels = {QStringLiteral("stable"), QStringLiteral("beta"),
                                          QStringLiteral("alpha")};
    const int equals = word.indexOf(QLatin1Char('='));
    const int colon = word.indexOf(QLatin1Char(':'), equals + 1);
    ChannelVersion entry;
    entry.channel = word.left(equals);
    bool ok = false;
    if (equals > 0 && colon > equals) {
        const QString number = word.mid(equals + 1, colon - equals - 1);
        entry.number = number.toInt(&ok, 10);
        ok = ok && entry.number > 0 && number == QString::number(entry.number);
        entry.text = word.mid(colon + 1);
    }
    if (!ok || entry.text.isEmpty() || !kChannels.contains(entry.channel)) {
        *error = QStringLiteral("'%1' is not CHANNEL=N:TEXT with CHANNEL stable, beta or alpha")
                     .arg(word);
        return false;
    }
    for (const ChannelVersion &other : qAsConst(m_Channels)) {
        if (other.channel == entry.channel) {
            *error = QStringLiteral("channel %1 given twice").arg(entry.channel);
            return false;
        }
    }
    m_Channels.append(entry);
    return true;
}

QByteArray VersionsFile::serialize() const {
    com::voxmere::update::Versions message;
    message.set_licenseagreementid(1);
    for (const ChannelVersion &entry : m_Channels) {
        com::voxmere::update::Channel *channel = message.add_channels();
        channel->set_name(entry.channel.toStdString());
        channel->set_version_number(entry.number);
        channel->set_version_string(entry.text.toStdString());
    }
    const std::string bytes = message.SerializeAsString();
    return QByteArray(bytes.data(), static_cast<int>(bytes.size()));
}

bool VersionsFile::write(QString *error) const {
    const QByteArray bytes = serialize();
    QSaveFile out(m_OutFile);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        *error = QStringLiteral("cannot write %1").arg(m_OutFile);
        return false;
    }
    return true;
}
