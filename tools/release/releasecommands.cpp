#include "releasecommands.h"

#include "buildoptions.h"
#include "releasebuilder.h"
#include "releasekeys.h"
#include "versionsfile.h"

namespace {

const char kUsage[] =
    "usage: vxm-release keygen OUTDIR\n"
    "       vxm-release sign FILE KEY\n"
    "       vxm-release verify FILE PUBKEY\n"
    "       vxm-release build --pass client|updater --version N --new TREE [--old TREE ...]\n"
    "                         --key KEY --out ROOT [--preinstall CMD ...] [--postinstall CMD ...]\n"
    "                         (CMD: [optional:]NAME[::ARG...])\n"
    "       vxm-release versions --out FILE stable=N:TEXT [beta=N:TEXT] [alpha=N:TEXT]\n";

int usage(QTextStream &err, const QString &problem = QString()) {
    if (!problem.isEmpty()) {
        err << "vxm-release: " << problem << "\n";
    }
    err << kUsage;
    return kReleaseUsage;
}

int failure(QTextStream &err, const QString &problem) {
    err << "vxm-release: " << problem << "\n";
    return kReleaseFailed;
}

int keygen(const QStringList &args, QTextStream &out, QTextStream &err) {
    if (args.size() != 1) {
        return usage(err);
    }
    QString error;
    if (!ReleaseKeys::generate(args.at(0), &error)) {
        return failure(err, error);
    }
    out << "wrote " << args.at(0) << "/" << ReleaseKeys::kPrivateKeyName << " and "
        << ReleaseKeys::kPublicKeyName << "\n";
    return kReleaseOk;
}

int sign(const QStringList &args, QTextStream &out, QTextStream &err) {
    if (args.size() != 2) {
        return usage(err);
    }
    QString error;
    RsaKey key;
    if (!ReleaseKeys::loadPrivate(args.at(1), &key, &error) ||
        !ReleaseKeys::sign(args.at(0), key, &error)) {
        return failure(err, error);
    }
    out << "wrote " << args.at(0) << ReleaseKeys::kSignatureSuffix << "\n";
    return kReleaseOk;
}

int verify(const QStringList &args, QTextStream &out, QTextStream &err) {
    if (args.size() != 2) {
        return usage(err);
    }
    QString error;
    RsaKey key;
    bool valid = false;
    if (!ReleaseKeys::loadPublic(args.at(1), &key, &error) ||
        !ReleaseKeys::verify(args.at(0), key, &valid, &error)) {
        return failure(err, error);
    }
    if (!valid) {
        return failure(err, QStringLiteral("%1: signature is not valid").arg(args.at(0)));
    }
    out << args.at(0) << ": signature is valid\n";
    return kReleaseOk;
}

int build(const QStringList &args, QTextStream &out, QTextStream &err) {
    BuildOptions options;
    QString error;
    if (!options.parse(args, &error)) {
        return usage(err, error);
    }
    ReleaseBuilder builder(options, &err);
    if (!builder.run(&error)) {
        return failure(err, error);
    }
    out << builder.summaryText() << "\n";
    return kReleaseOk;
}

int versions(const QStringList &args, QTextStream &out, QTextStream &err) {
    VersionsFile file;
    QString error;
    if (!file.parse(args, &error)) {
        return usage(err, error);
    }
    if (!file.write(&error)) {
        return failure(err, error);
    }
    out << "wrote " << file.outFile() << "\n";
    return kReleaseOk;
}

}  // namespace

int runReleaseCommand(const QStringList &words, QTextStream &out, QTextStream &err) {
    using Command = int (*)(const QStringList &, QTextStream &, QTextStream &);
    static const struct {
        const char *name;
        Command run;
    } kCommands[] = {{"keygen", keygen},
                     {"sign", sign},
                     {"verify", verify},
                     {"build", build},
                     {"versions", versions}};
    if (words.isEmpty()) {
        return usage(err);
    }
    for (const auto &command : kCommands) {
        if (words.at(0) == QLatin1String(command.name)) {
            try {
                RsaCrypt::registerAlgorithms();
            } catch (const crypt_exception &e) {
                return failure(err, QString::fromUtf8(e.what()));
            }
            return command.run(words.mid(1), out, err);
        }
    }
    return usage(err, QStringLiteral("unknown command %1").arg(words.at(0)));
}
