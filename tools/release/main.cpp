// vxm-release: keys, signatures, product inis and whole release trees for
// the Voxmere updater.
#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

#include "releasecommands.h"

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int status = runReleaseCommand(QCoreApplication::arguments().mid(1), out, err);
    out.flush();
    err.flush();
    return status;
}
