#include "buildoptions.h"

#include <QSet>

namespace {

const QString kOptionalPrefix = QStringLiteral("optional:");

bool parseVersion(const QString &text, int *version) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < 1 || text != QString::number(value)) {
        return false;
    }
    *version = value;
    return true;
}

}  // namespace

bool BuildOptions::parseCommand(const QString &text, CommandOption *command) {
    QString rest = text;
    command->optional = rest.startsWith(kOptionalPrefix);
    if (command->optional) {
        rest = rest.mid(kOptionalPrefix.size());
    }
    QStringList parts = rest.split(QStringLiteral("::"));
    command->name = parts.takeFirst();
    command->args = parts;
    return !command->name.isEmpty();
}

bool BuildOptions::parse(const QStringList &words, QString *error) {
    static const QStringList kSingle = {QStringLiteral("--pass"), QStringLiteral("--version"),
                                        QStringLiteral("--new"), QStringLiteral("--key"),
                                        QStringLiteral("--out")};
    static const QStringList kRepeatable = {QStringLiteral("--old"), QStringLiteral("--preinstall"),
                                            QStringLiteral("--postinstall")};
    QSet<QString> seen;
    for (int i = 0; i < words.size(); ++i) {
        const QString &option = words.at(i);
        if (!kSingle.contains(option) && !kRepeatable.contains(option)) {
            *error = QStringLiteral("unknown option %1").arg(option);
            return false;
        }
        if (i + 1 >= words.size()) {
            *error = QStringLiteral("%1 needs a value").arg(option);
            return false;
        }
        const QString &value = words.at(++i);
        if (kSingle.contains(option) && seen.contains(option)) {
            *error = QStringLiteral("%1 given twice").arg(option);
            return false;
        }
        seen.insert(option);
        CommandOption command;
        if (option == QLatin1String("--pass")) {
            if (value != QLatin1String("client") && value != QLatin1String("updater")) {
                *error = QStringLiteral("--pass must be client or updater, not '%1'").arg(value);
                return false;
            }
            pass = value == QLatin1String("client") ? ReleasePass::Client : ReleasePass::Updater;
        } else if (option == QLatin1String("--version")) {
            if (!parseVersion(value, &version)) {
                *error = QStringLiteral("--version must be a positive number, not '%1'").arg(value);
                return false;
            }
        } else if (option == QLatin1String("--new")) {
            newTree = value;
        } else if (option == QLatin1String("--old")) {
            oldTrees.append(value);
        } else if (option == QLatin1String("--key")) {
            keyFile = value;
        } else if (option == QLatin1String("--out")) {
            outRoot = value;
        } else {
            if (!parseCommand(value, &command)) {
                *error = QStringLiteral("%1 needs a command name").arg(option);
                return false;
            }
            (option == QLatin1String("--preinstall") ? preInstall : postInstall).append(command);
        }
    }
    for (const QString &required : kSingle) {
        if (!seen.contains(required)) {
            *error = QStringLiteral("%1 is required").arg(required);
            return false;
        }
    }
    return true;
}
