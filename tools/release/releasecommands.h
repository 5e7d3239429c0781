#pragma once

#include <QStringList>
#include <QTextStream>

/// Exit statuses of vxm-release.
enum ReleaseExitStatus { kReleaseOk = 0, kReleaseFailed = 1, kReleaseUsage = 2 };

/// Runs one vxm-release command: words are the arguments after the
/// program name. Results and the build summary go to out; progress,
/// warnings, errors and the usage text go to err. Returns the exit status:
/// 0 success, 1 failure (a bad tree, key or file, an invalid signature),
/// 2 bad usage.
int runReleaseCommand(const QStringList &words, QTextStream &out, QTextStream &err);
