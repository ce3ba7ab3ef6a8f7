#include "fddevice.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

qint64 FdDevice::bytesAvailable() const
{
    int n = 0;
    return ioctl(m_fd, FIONREAD, &n) == 0 ? n : 0;
}

// False on time-out, and early when the other side hung up.
bool FdDevice::waitForReadyRead(int msecs)
{
    struct pollfd p = { m_fd, POLLIN, 0 };
    // The console's events are handled between waits of 1 ms on the line.
    for (const QDeadlineTimer deadline(msecs); eventLoop && !deadline.hasExpired() && poll(&p, 1, 1) == 0;)
        QCoreApplication::processEvents();
    return poll(&p, 1, eventLoop ? 0 : msecs) > 0 && (p.revents & POLLIN);
}

qint64 FdDevice::readData(char *data, qint64 maxSize)
{
    const ssize_t n = ::read(m_fd, data, static_cast<size_t>(maxSize));
    return n >= 0 ? n : (errno == EAGAIN ? 0 : -1);
}

qint64 FdDevice::writeData(const char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        struct pollfd p = { m_fd, POLLOUT, 0 };
        const ssize_t n = ::write(m_fd, data + done, static_cast<size_t>(size - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return -1;
        else
            poll(&p, 1, 100);
    }
    return done;
}
