// The simulation build: every device lives below $KVX_SYSROOT.
//
// Stand-ins: dev/fb0 is a text file "XRES YRES BPP"; dev/i2c-2 is a 256-byte
// register file of the clock chip, addressed through the file position; the
// system clock is the text file sim/system_clock. Nothing here may ever reach
// the machine's own devices or clock.

#include "platform.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

static QByteArray sysroot()
{
    // Read anew each time so that tests can point one process at several
    // sysroots; without one every device path maps to nothing openable.
    return qgetenv("KVX_SYSROOT");
}

int init()
{
    const QByteArray root = sysroot();
    if (root.isEmpty()) {
        fprintf(stderr, "kvx_recovery_sim: KVX_SYSROOT is not set\n");
        return 2;
    }
    if (!QFileInfo(QString::fromLocal8Bit(root)).isDir()) {
        fprintf(stderr, "kvx_recovery_sim: KVX_SYSROOT %s is not a directory\n", root.constData());
        return 2;
    }
    if (!QFileInfo(QString::fromLocal8Bit(root + "/sbin/reboot")).exists()) {
        fprintf(stderr, "kvx_recovery_sim: %s/sbin/reboot is missing\n", root.constData());
        return 2;
    }
    // Programs started by name (reboot, sync, tar, ...) come from the
    // sysroot first, so the machine's own reboot is never reached.
    QByteArray path = root + "/sbin:" + root + "/bin";
    const QByteArray old = qgetenv("PATH");
    if (!old.isEmpty())
        path += ":" + old;
    qputenv("PATH", path);
    return -1;
}

// A sysroot is laid out before the process starts and cannot know its id:
// the process's own stat file stands there as proc/self/stat.
static bool isOwnStatFile(const char *path)
{
    const QByteArray own = "/proc/" + QByteArray::number(static_cast<qint64>(getpid())) + "/stat";
    return own == path;
}

QByteArray devicePath(const char *path)
{
    if (path[0] != '/')
        return QByteArray(path);
    QByteArray root = sysroot();
    if (root.isEmpty())
        return QByteArray();
    if (path[1] == '\0')
        return root;
    if (isOwnStatFile(path))
        return root + "/proc/self/stat";
    return root + path;
}

int framebufferInfo(int fd, unsigned *xres, unsigned *yres, unsigned *bitsPerPixel)
{
    char text[64];
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return -1;
    text[n] = '\0';
    unsigned x, y, bpp;
    if (sscanf(text, "%u %u %u", &x, &y, &bpp) != 3)
        return -1;
    *xres = x;
    *yres = y;
    *bitsPerPixel = bpp;
    return 0;
}

static bool isRegisterFile(int fd)
{
    struct stat st
    {
    };
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

int i2cSetSlave(int fd, int) { return isRegisterFile(fd) ? 0 : -1; }

int i2cQueryFunctions(int fd, unsigned long *functions)
{
    if (!isRegisterFile(fd))
        return -1;
    *functions = 0;
    return 0;
}

// The file position is the chip's register pointer: a one-byte write sets it,
// a longer write stores the data at the address given in its first byte.
ssize_t i2cWrite(int fd, const unsigned char *data, size_t n)
{
    struct stat st
    {
    };
    if (n == 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const off_t address = data[0];
    if (address + static_cast<off_t>(n) - 1 > st.st_size)
        return -1;
    if (n > 1 && pwrite(fd, data + 1, n - 1, address) != static_cast<ssize_t>(n - 1))
        return -1;
    if (lseek(fd, address + static_cast<off_t>(n) - 1, SEEK_SET) < 0)
        return -1;
    return static_cast<ssize_t>(n);
}

ssize_t i2cRead(int fd, unsigned char *data, size_t n)
{
    const ssize_t got = read(fd, data, n);
    if (got != static_cast<ssize_t>(n))
        return -1;
    return got;
}

int setSystemClock(time_t seconds)
{
    const QByteArray root = sysroot();
    if (root.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    const QByteArray dir = root + "/sim";
    if (mkdir(dir.constData(), 0755) != 0 && errno != EEXIST)
        return -1;
    FILE *f = fopen((dir + "/system_clock").constData(), "w");
    if (!f)
        return -1;
    const bool ok = fprintf(f, "%lld\n", static_cast<long long>(seconds)) > 0;
    if (fclose(f) != 0 || !ok)
        return -1;
    return 0;
}

} // namespace platform
