// The host end of the serial line: opening the device raw, and telling the
// user in plain words why that failed.

#include "serialport.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace serialport {

int openRaw(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // Two programs reading one line would each get half of every answer;
    // terminal programs such as picocom take the same lock.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    struct termios t;
    if (tcgetattr(fd, &t) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    // Whatever the line held before this program took it is not an answer.
    if (tcsetattr(fd, TCSANOW, &t) != 0 || tcflush(fd, TCIOFLUSH) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

QString errorMessage(int err, const QString &path)
{
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return QStringLiteral("no such device: %1 (is the panel connected and in recovery mode?)").arg(path);
    case EACCES:
    case EPERM:
        return QStringLiteral("no permission to open %1 (is the user in the dialout group?)").arg(path);
    case EBUSY:
        return QStringLiteral("%1 is busy: another program is using it").arg(path);
    case ENOTTY:
    case EINVAL:
        return QStringLiteral("%1 is not a serial device").arg(path);
    case EISDIR:
        return QStringLiteral("%1 is a directory, not a serial device").arg(path);
    case EIO:
        return QStringLiteral("the link on %1 broke off (was the panel disconnected?)").arg(path);
    default:
        return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(strerror(err)));
    }
}

} // namespace serialport
