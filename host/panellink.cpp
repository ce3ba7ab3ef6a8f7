// Reading and writing the panel's line with deadlines, and the frame/echo/
// reply exchange that every console command follows.

#include "panellink.h"

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

static int remainingMs(const QDeadlineTimer &deadline)
{
    const qint64 ms = deadline.remainingTime();
    return ms < 0 ? -1 : static_cast<int>(qMin<qint64>(ms, 1 << 30));
}

PanelLink::PanelLink(int fd)
    : m_fd(fd)
    , m_error(0)
    , m_verbose(false)
{
}

PanelLink::~PanelLink()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void PanelLink::discardInput()
{
    tcflush(m_fd, TCIFLUSH);
    char chunk[4096];
    while (::read(m_fd, chunk, sizeof chunk) > 0) {
    }
    m_buffer.clear();
}

PanelLink::Status PanelLink::write(const QByteArray &bytes, QDeadlineTimer deadline)
{
    int done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            m_error = errno;
            return Broken;
        }
        if (deadline.hasExpired())
            return TimedOut;
        struct pollfd p = { m_fd, POLLOUT, 0 };
        poll(&p, 1, remainingMs(deadline));
    }
    return Ok;
}

PanelLink::Status PanelLink::writeByte(unsigned char b, QDeadlineTimer deadline)
{
    return write(QByteArray(1, static_cast<char>(b)), deadline);
}

PanelLink::Status PanelLink::fill(QDeadlineTimer deadline)
{
    for (;;) {
        char chunk[65536];
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n > 0) {
            m_buffer.append(chunk, static_cast<int>(n));
            // Take in the rest of what is there without waiting.
            ssize_t more;
            while ((more = ::read(m_fd, chunk, sizeof chunk)) > 0)
                m_buffer.append(chunk, static_cast<int>(more));
            return Ok;
        }
        if (n == 0) {
            m_error = EIO; // the other end hung up
            return Broken;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            m_error = errno;
            return Broken;
        }
        if (deadline.hasExpired())
            return TimedOut;
        struct pollfd p = { m_fd, POLLIN, 0 };
        const int r = poll(&p, 1, remainingMs(deadline));
        if (r == 0)
            return TimedOut;
        if (r > 0 && !(p.revents & POLLIN) && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            m_error = EIO;
            return Broken;
        }
    }
}

PanelLink::Status PanelLink::waitForSize(int n, QDeadlineTimer deadline)
{
    while (m_buffer.size() < n) {
        const Status s = fill(deadline);
        if (s != Ok)
            return s;
    }
    return Ok;
}

PanelLink::Status PanelLink::exchange(const QByteArray &frame, QDeadlineTimer deadline, QByteArray *reply)
{
    discardInput();
    if (m_verbose)
        trace(QStringLiteral("> ") + printable(frame));
    Status s = write(frame, deadline);
    if (s != Ok)
        return s;
    static const QByteArray lineEnd("\n\r");
    for (;;) {
        // Anything before the echo (a greeting after a reconnect, say) is
        // not part of this command's answer.
        const int echo = m_buffer.indexOf(frame);
        if (echo >= 0) {
            const int start = echo + frame.size();
            const int end = m_buffer.indexOf(lineEnd, start);
            if (end >= 0) {
                *reply = m_buffer.mid(start, end - start);
                m_buffer.remove(0, end + lineEnd.size());
                if (m_verbose)
                    trace(QStringLiteral("< ") + printable(*reply));
                return Ok;
            }
        }
        s = fill(deadline);
        if (s != Ok) {
            *reply = m_buffer;
            return s;
        }
    }
}

QString printable(const QByteArray &bytes)
{
    QString text;
    for (char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
    }
    return text;
}
