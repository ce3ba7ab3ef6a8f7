#ifndef KVX_HOSTLINK_LINK_H
#define KVX_HOSTLINK_LINK_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <functional>

class QIODevice;

namespace hostlink {

// What the link is about to send, as the tap (below) sees it.
struct Outgoing
{
    enum Kind {
        Frame,   // a command frame
        Packet,  // an XMODEM packet
        Control, // one XMODEM control byte: 'C', ACK, NAK, EOT or CAN
        Raw,     // anything written with Link::write
    };
    Kind kind = Raw;
    qint64 packet = 0; // the 1-based packet a Packet is, or a Control answers or asks for
    int attempt = 0;   // 0 for the first transmission, 1 for the first resend, ...
};

// What the tap asks for besides changing the bytes.
struct Tampering
{
    int delayMs = 0;        // wait this long (taking in what arrives) before sending
    bool endStream = false; // stop here: a sender sends EOT instead of this packet,
                            // anything else ends the transfer as if the line broke
};

// Called for everything the link sends, before it goes out. It may damage,
// cut (truncate), repeat (append a copy), or drop (clear) the bytes, and
// fill in a Tampering. Tests use it to play a faulty host or a faulty panel.
using Tap = std::function<void(const Outgoing &what, QByteArray &bytes, Tampering &how)>;

// One panel's line: writing and reading with deadlines, and the frame/echo/
// reply exchange every console command follows. Bytes read but not yet used
// stay in buffer(). It blocks in the device's waitForReadyRead and
// waitForBytesWritten, so it needs no event loop; like the device it works
// on, it belongs to one thread (a QThread, or the main one: QSerialPort makes
// socket notifiers, which other threads do not support).
class Link
{
public:
    enum Status { Ok, TimedOut, Broken, Ended };

    // The device (a QSerialPort from openPort, or any QIODevice whose waits
    // block) must be open and outlive the link.
    explicit Link(QIODevice &device);
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    QIODevice &device() { return m_device; }

    // Receives "> frame" and "< reply" lines for a verbose display.
    void setTrace(std::function<void(const QString &line)> trace) { m_trace = std::move(trace); }
    void trace(char direction, const QByteArray &bytes) const;
    void setTap(Tap tap) { m_tap = std::move(tap); }

    // Forgets whatever the panel sent that nobody has read.
    void discardInput();

    // Sends bytes through the tap.
    Status send(const QByteArray &bytes, const Outgoing &what, QDeadlineTimer deadline);
    Status write(const QByteArray &bytes, QDeadlineTimer deadline) { return send(bytes, Outgoing(), deadline); }

    // Appends what arrives to buffer(); Ok as soon as at least one byte came.
    Status fill(QDeadlineTimer deadline);
    // Waits until buffer() holds at least n bytes.
    Status waitForSize(int n, QDeadlineTimer deadline);
    // Waits until buffer() holds needle; returns its index or -1.
    int waitFor(const QByteArray &needle, QDeadlineTimer deadline, Status *status = nullptr);
    // Takes the first byte of buffer(), waiting for one if need be.
    Status takeByte(QDeadlineTimer deadline, unsigned char *b);
    QByteArray &buffer() { return m_buffer; }

    // Sends a command frame and waits for the panel's echo of it and the
    // LF CR that ends its handling; reply gets the bytes in between (on a
    // time-out, whatever came so far).
    Status exchange(const QByteArray &frame, QDeadlineTimer deadline, QByteArray *reply);

private:
    Status writeOut(const QByteArray &bytes, QDeadlineTimer deadline);
    QIODevice &m_device;
    std::function<void(const QString &)> m_trace;
    Tap m_tap;
    QByteArray m_buffer;
};

// Bytes as readable text: printable ASCII as it is, the rest as \xNN.
QString printable(const QByteArray &bytes);

} // namespace hostlink

#endif
