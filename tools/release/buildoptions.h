#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "releaseplan.h"

/// A pre- or post-install command entry given on the command line as
/// [optional:]NAME[::ARG...].
struct CommandOption {
    QString name;
    QStringList args;
    bool optional = false;
};

/// The options of `vxm-release build`.
struct BuildOptions {
    ReleasePass pass = ReleasePass::Client;
    int version = 0;
    QString newTree;
    QStringList oldTrees;
    QString keyFile;
    QString outRoot;
    QList<CommandOption> preInstall;
    QList<CommandOption> postInstall;

    /// Parses the words after "build". False (with the reason in *error)
    /// for an unknown or repeated option, a missing value or a missing
    /// required option (--pass, --version, --new, --key, --out), a version
    /// that is not a decimal number from 1 to 2^31-1, or an empty command.
    bool parse(const QStringList &words, QString *error);

    /// Parses one command entry; false for an empty name.
    static bool parseCommand(const QString &text, CommandOption *command);
};
