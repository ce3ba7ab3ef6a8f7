// The host's side of XMODEM-1K with CRC-16: starting an upload, sending a
// file packet by packet, and receiving one.

#include "transfer.h"

#include "xmodem.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <cstring>

namespace hostlink {

namespace {

// The panel waits 5 s for the first 'C'; a few repeats fit in that.
constexpr int RequestRepeatMs = 1000;
constexpr int RequestTries = 4;
constexpr int MaxRetries = 10;

TransferOutcome outcome(TransferOutcome::Kind kind, const QString &message)
{
    TransferOutcome o;
    o.kind = kind;
    o.message = message;
    return o;
}

TransferOutcome linkOutcome(Link::Status s, const QString &waitingFor)
{
    if (s == Link::Broken)
        return outcome(TransferOutcome::Broken, QStringLiteral("the link broke off"));
    if (s == Link::Ended)
        return outcome(TransferOutcome::Ended, QStringLiteral("the transfer was ended on purpose"));
    return outcome(TransferOutcome::NoAnswer,
                   QStringLiteral("no answer from the panel while waiting for %1").arg(waitingFor));
}

Link::Status control(Link &link, unsigned char b, qint64 packet, int attempt, int ms)
{
    Outgoing what;
    what.kind = Outgoing::Control;
    what.packet = packet;
    what.attempt = attempt;
    return link.send(QByteArray(1, static_cast<char>(b)), what, QDeadlineTimer(ms));
}

void cancel(Link &link, qint64 packet)
{
    Outgoing what;
    what.kind = Outgoing::Control;
    what.packet = packet;
    link.send(QByteArray(2, static_cast<char>(xmodem::CAN)), what, QDeadlineTimer(1000));
}

// Sends packet i (1-based) until it is acknowledged. Ended when the tap
// ended the stream here.
TransferOutcome sendPacket(Link &link, const QByteArray &bytes, qint64 i, const TransferTiming &timing)
{
    Outgoing what;
    what.kind = Outgoing::Packet;
    what.packet = i;
    for (;;) {
        Link::Status s = link.send(bytes, what, QDeadlineTimer(timing.answerMs));
        if (s != Link::Ok)
            return linkOutcome(s, QStringLiteral("the line to take packet %1").arg(i));
        const QDeadlineTimer deadline(timing.answerMs);
        unsigned char b = 0;
        while (s == Link::Ok && b != xmodem::ACK && b != xmodem::NAK && b != xmodem::CAN)
            s = link.takeByte(deadline, &b); // skips further requests for the first packet, and line noise
        if (s != Link::Ok) {
            cancel(link, i);
            return linkOutcome(s, QStringLiteral("the acknowledgement of packet %1").arg(i));
        }
        if (b == xmodem::ACK)
            return outcome(TransferOutcome::Done, QString());
        if (b == xmodem::CAN)
            return outcome(TransferOutcome::Cancelled,
                           QStringLiteral("the panel cancelled the transfer at packet %1").arg(i));
        if (++what.attempt >= MaxRetries) {
            cancel(link, i);
            return outcome(TransferOutcome::GaveUp,
                           QStringLiteral("the panel refused packet %1 %2 times").arg(i).arg(what.attempt));
        }
    }
}

TransferOutcome sendEnd(Link &link, const TransferTiming &timing, qint64 packet)
{
    const QDeadlineTimer deadline(timing.endMs);
    QElapsedTimer endWait;
    endWait.start();
    for (int tries = 0;; ++tries) {
        Link::Status s = control(link, xmodem::EOT, packet, tries, timing.endMs);
        unsigned char b = 0;
        while (s == Link::Ok && b != xmodem::ACK && b != xmodem::NAK && b != xmodem::CAN)
            s = link.takeByte(deadline, &b);
        if (s != Link::Ok)
            return linkOutcome(s, QStringLiteral("the end of the file to be confirmed"));
        if (b == xmodem::ACK) {
            TransferOutcome done = outcome(TransferOutcome::Done, QString());
            done.endWaitMs = endWait.elapsed();
            return done;
        }
        if (b == xmodem::CAN || tries >= MaxRetries)
            return outcome(TransferOutcome::Cancelled, QStringLiteral("the panel did not take the end of the file"));
    }
}

} // namespace

UploadStart startUpload(Link &link, const QByteArray &frame, const QByteArray &ackTag, QDeadlineTimer deadline,
                        QByteArray *seen)
{
    link.discardInput();
    link.trace('>', frame);
    Outgoing what;
    what.kind = Outgoing::Frame;
    Link::Status s = link.send(frame, what, deadline);
    int end = -1;
    if (s == Link::Ok)
        end = link.waitFor("\n\r", deadline, &s);
    if (s != Link::Ok) {
        *seen = link.buffer();
        return s == Link::TimedOut ? UploadStart::NoAnswer : UploadStart::Broken;
    }
    *seen = link.buffer().left(end);
    // Further 'C's may follow; the sender skips them.
    link.buffer().remove(0, end + 2);
    link.trace('<', *seen);
    if (seen->endsWith(static_cast<char>(xmodem::CRC_REQUEST)))
        return UploadStart::Started;
    if (seen->contains(ackTag))
        return UploadStart::NotOpened;
    return UploadStart::Refused;
}

TransferOutcome sendFile(Link &link, QIODevice &source, qint64 size, const TransferTiming &timing,
                         const ProgressFn &progress)
{
    const qint64 packets = (size + xmodem::DataSize - 1) / xmodem::DataSize;
    unsigned char packet[xmodem::PacketSize];
    char data[xmodem::DataSize];
    qint64 sent = 0;
    qint64 i = 1;
    for (; i <= packets; ++i) {
        const qint64 want = qMin<qint64>(xmodem::DataSize, size - sent);
        if (source.read(data, want) != want) {
            cancel(link, i);
            return outcome(TransferOutcome::LocalError,
                           QStringLiteral("cannot read the file: %1").arg(source.errorString()));
        }
        xmodem::buildPacket(packet, static_cast<unsigned int>(i & 0xFF), reinterpret_cast<const unsigned char *>(data),
                            static_cast<size_t>(want));
        TransferOutcome o
            = sendPacket(link, QByteArray(reinterpret_cast<const char *>(packet), xmodem::PacketSize), i, timing);
        if (o.kind == TransferOutcome::Ended)
            break; // the stream ends early: EOT instead of this packet
        if (o.kind != TransferOutcome::Done)
            return o;
        sent += want;
        if (progress)
            progress(sent);
    }
    return sendEnd(link, timing, i);
}

namespace {

// One packet after its STX: Good, a Repeat of the last one (our ACK got lost),
// or Bad (damaged, cut short or out of sequence).
enum class PacketCheck { Good, Repeat, Bad };

PacketCheck takePacket(Link &link, unsigned int block, int ms, unsigned char *packet, Link::Status *status)
{
    *status = link.waitForSize(xmodem::PacketSize - 1, QDeadlineTimer(ms));
    if (*status != Link::Ok) {
        if (*status == Link::TimedOut) {
            link.discardInput(); // the rest of a stalled packet
            *status = Link::Ok;
        }
        return PacketCheck::Bad;
    }
    packet[0] = xmodem::STX;
    memcpy(packet + 1, link.buffer().constData(), xmodem::PacketSize - 1);
    link.buffer().remove(0, xmodem::PacketSize - 1);
    if (xmodem::checkPacket(packet) != xmodem::Check::Good)
        return PacketCheck::Bad;
    if (packet[1] == block)
        return PacketCheck::Good;
    return packet[1] == ((block + 255) & 0xFF) ? PacketCheck::Repeat : PacketCheck::Bad;
}

} // namespace

TransferOutcome receiveFile(Link &link, QIODevice &sink, qint64 size, const TransferTiming &timing,
                            const ProgressFn &progress)
{
    const qint64 packets = size / xmodem::DataSize + 1; // always one for the remainder
    if (timing.requestDelayMs > 0) {
        QDeadlineTimer listening(timing.requestDelayMs);
        while (link.fill(listening) == Link::Ok) { }
        link.buffer().clear();
    }
    qint64 received = 0; // packets taken
    qint64 stored = 0;   // bytes written
    int requests = 0;
    int errors = 0;
    Link::Status s = control(link, xmodem::CRC_REQUEST, 1, requests++, timing.answerMs);
    while (s == Link::Ok) {
        const bool starting = received == 0;
        unsigned char b;
        s = link.takeByte(QDeadlineTimer(starting ? RequestRepeatMs : timing.answerMs), &b);
        if (s == Link::TimedOut && starting && requests < RequestTries) {
            s = control(link, xmodem::CRC_REQUEST, 1, requests++, timing.answerMs);
            continue;
        }
        if (s != Link::Ok)
            break;
        if (b == xmodem::EOT) {
            if (received == packets)
                return outcome(TransferOutcome::Done, QString());
            return outcome(
                TransferOutcome::Cancelled,
                QStringLiteral("the panel ended the file after %1 of %2 packets").arg(received).arg(packets));
        }
        if (b == xmodem::CAN)
            return outcome(TransferOutcome::Cancelled, QStringLiteral("the panel cancelled the transfer"));
        if (b != xmodem::STX)
            continue; // an echo of an early 'C', or line noise
        unsigned char packet[xmodem::PacketSize];
        PacketCheck c = takePacket(link, static_cast<unsigned int>((received + 1) & 0xFF), timing.answerMs, packet, &s);
        if (s != Link::Ok)
            break;
        if (c == PacketCheck::Good && received == packets)
            c = PacketCheck::Bad; // more packets than the size allows
        if (c == PacketCheck::Good) {
            const qint64 n = qMin<qint64>(xmodem::DataSize, size - stored);
            if (n > 0 && sink.write(reinterpret_cast<const char *>(packet + 3), n) != n) {
                cancel(link, received + 1);
                return outcome(TransferOutcome::LocalError,
                               QStringLiteral("cannot write the file: %1").arg(sink.errorString()));
            }
            stored += n;
            ++received;
        }
        if (c != PacketCheck::Bad) {
            errors = 0;
            s = control(link, xmodem::ACK, received, 0, timing.answerMs);
            if (progress)
                progress(stored);
            continue;
        }
        if (++errors >= MaxRetries) {
            cancel(link, received + 1);
            return outcome(TransferOutcome::GaveUp,
                           QStringLiteral("packet %1 arrived damaged %2 times").arg(received + 1).arg(errors));
        }
        s = control(link, xmodem::NAK, received + 1, errors - 1, timing.answerMs);
    }
    return linkOutcome(s, received == 0 ? QStringLiteral("the first packet") : QStringLiteral("the next packet"));
}

} // namespace hostlink
