// Lays out a simulated panel for tools/kvx-sim:
//   kvx-sim-sysroot SYSROOT APPDIR
// the sample sysroot with a clock chip holding the current local time, and
// the application directory's sample files (files already there are kept).

#include "sample_sysroot.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: kvx-sim-sysroot SYSROOT APPDIR\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const bool ok = sample::writeSysroot(root)
        && sample::writeFile(root + "/dev/i2c-2", sample::clockChip(QDateTime::currentDateTime()))
        && sample::writeAppFiles(QString::fromLocal8Bit(argv[2]));
    if (!ok)
        fprintf(stderr, "kvx-sim-sysroot: cannot write the simulated panel in %s\n", argv[1]);
    return ok ? 0 : 1;
}
