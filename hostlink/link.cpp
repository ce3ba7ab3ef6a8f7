// Reading and writing the panel's line with deadlines, and the frame/echo/
// reply exchange that every console command follows.

#include "link.h"

#include <QSerialPort>

namespace hostlink {

namespace {

// Rounded up, so that a wait which runs its full course reaches the deadline.
int remainingMs(const QDeadlineTimer &deadline)
{
    const qint64 ns = deadline.remainingTimeNSecs();
    return ns < 0 ? (deadline.isForever() ? -1 : 0) : static_cast<int>(qMin<qint64>((ns + 999999) / 1000000, 1 << 30));
}

// Whether a wait that returned false before its deadline means the line is
// gone. A serial port says so in its error; other devices only return false
// early when they cannot go on.
bool waitFailed(QIODevice &device, const QDeadlineTimer &deadline)
{
    if (auto *port = qobject_cast<QSerialPort *>(&device)) {
        const QSerialPort::SerialPortError e = port->error();
        return e != QSerialPort::NoError && e != QSerialPort::TimeoutError;
    }
    return !device.isOpen() || !deadline.hasExpired();
}

void clearTimeout(QIODevice &device)
{
    if (auto *port = qobject_cast<QSerialPort *>(&device)) {
        if (port->error() == QSerialPort::TimeoutError)
            port->clearError();
    }
}

const QByteArray lineEnd("\n\r");

} // namespace

Link::Link(QIODevice &device)
    : m_device(device)
{
}

void Link::trace(char direction, const QByteArray &bytes) const
{
    if (m_trace)
        m_trace(QLatin1Char(direction) + QStringLiteral(" ") + printable(bytes));
}

void Link::discardInput()
{
    if (auto *port = qobject_cast<QSerialPort *>(&m_device))
        port->clear(QSerialPort::Input);
    while (m_device.bytesAvailable() > 0 || m_device.waitForReadyRead(0))
        m_device.readAll();
    clearTimeout(m_device);
    m_buffer.clear();
}

Link::Status Link::send(const QByteArray &bytes, const Outgoing &what, QDeadlineTimer deadline)
{
    if (!m_tap)
        return writeOut(bytes, deadline);
    QByteArray changed = bytes;
    Tampering how;
    m_tap(what, changed, how);
    if (how.delayMs > 0) {
        const QDeadlineTimer pause(how.delayMs);
        Status s = Ok;
        while (s == Ok)
            s = fill(pause);
        if (s == Broken)
            return s;
    }
    if (how.endStream)
        return Ended;
    return writeOut(changed, deadline);
}

Link::Status Link::writeOut(const QByteArray &bytes, QDeadlineTimer deadline)
{
    if (bytes.isEmpty())
        return Ok;
    if (m_device.write(bytes) != bytes.size())
        return Broken;
    // A serial port only buffers what it is given; flushing writes it out at
    // once, without first waiting to learn that the line can take it.
    if (auto *port = qobject_cast<QSerialPort *>(&m_device))
        port->flush();
    while (m_device.bytesToWrite() > 0) {
        clearTimeout(m_device);
        if (!m_device.waitForBytesWritten(remainingMs(deadline))) {
            if (waitFailed(m_device, deadline))
                return Broken;
            if (deadline.hasExpired())
                return TimedOut;
        }
    }
    return Ok;
}

Link::Status Link::fill(QDeadlineTimer deadline)
{
    for (;;) {
        if (m_device.bytesAvailable() > 0) {
            m_buffer += m_device.readAll();
            return Ok;
        }
        if (deadline.hasExpired())
            return TimedOut;
        clearTimeout(m_device);
        if (!m_device.waitForReadyRead(remainingMs(deadline)) && m_device.bytesAvailable() <= 0) {
            if (waitFailed(m_device, deadline))
                return Broken;
        }
    }
}

Link::Status Link::waitForSize(int n, QDeadlineTimer deadline)
{
    Status s = Ok;
    while (m_buffer.size() < n && s == Ok)
        s = fill(deadline);
    return s;
}

int Link::waitFor(const QByteArray &needle, QDeadlineTimer deadline, Status *status)
{
    Status s = Ok;
    int at;
    while ((at = m_buffer.indexOf(needle)) < 0 && s == Ok)
        s = fill(deadline);
    if (status)
        *status = s;
    return at;
}

Link::Status Link::takeByte(QDeadlineTimer deadline, unsigned char *b)
{
    const Status s = waitForSize(1, deadline);
    if (s != Ok)
        return s;
    *b = static_cast<unsigned char>(m_buffer.at(0));
    m_buffer.remove(0, 1);
    return Ok;
}

Link::Status Link::exchange(const QByteArray &frame, QDeadlineTimer deadline, QByteArray *reply)
{
    discardInput();
    trace('>', frame);
    Outgoing what;
    what.kind = Outgoing::Frame;
    Status s = send(frame, what, deadline);
    if (s != Ok)
        return s;
    for (;;) {
        // Anything before the echo (a greeting after a reconnect, say) is
        // not part of this command's answer.
        const int echo = m_buffer.indexOf(frame);
        const int end = echo < 0 ? -1 : m_buffer.indexOf(lineEnd, echo + frame.size());
        if (end >= 0) {
            const int start = echo + frame.size();
            *reply = m_buffer.mid(start, end - start);
            m_buffer.remove(0, end + lineEnd.size());
            trace('<', *reply);
            return Ok;
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

} // namespace hostlink
