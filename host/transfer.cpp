// The host's side of XMODEM-1K with CRC-16: starting an upload, sending a
// file packet by packet, and receiving one.

#include "transfer.h"

#include "progress.h"
#include "xmodem.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <cstdio>
#include <cstring>

namespace {

// The panel listens for the host's 'C' only this long after its size reply.
constexpr int PanelListenDelayMs = 400;
// A little more, so the 'C' never reaches the command collector instead.
constexpr int FirstRequestMs = PanelListenDelayMs + 100;
// The panel waits 5 s for the first 'C'; a few repeats fit in that.
constexpr int RequestRepeatMs = 1000;
constexpr int RequestTries = 4;
constexpr int MaxRetries = 10;

const QByteArray lineEnd("\n\r");

TransferOutcome outcome(TransferOutcome::Kind kind, const QString &message)
{
    TransferOutcome o;
    o.kind = kind;
    o.message = message;
    return o;
}

TransferOutcome linkOutcome(PanelLink::Status s, const QString &waitingFor)
{
    if (s == PanelLink::Broken)
        return outcome(TransferOutcome::Broken, QStringLiteral("the link broke off"));
    return outcome(TransferOutcome::NoAnswer, QStringLiteral("no answer from the panel while waiting for %1").arg(waitingFor));
}

// Takes the next byte from the link, waiting until the deadline.
PanelLink::Status nextByte(PanelLink &link, QDeadlineTimer deadline, unsigned char *b)
{
    const PanelLink::Status s = link.waitForSize(1, deadline);
    if (s != PanelLink::Ok)
        return s;
    *b = static_cast<unsigned char>(link.buffer().at(0));
    link.buffer().remove(0, 1);
    return PanelLink::Ok;
}

void cancel(PanelLink &link)
{
    link.write(QByteArray(2, static_cast<char>(xmodem::CAN)), QDeadlineTimer(1000));
}

} // namespace

UploadStart startUpload(PanelLink &link, const QByteArray &frame, const QByteArray &ackTag,
                        QDeadlineTimer deadline, QByteArray *seen)
{
    link.discardInput();
    if (link.verbose())
        trace(QStringLiteral("> ") + printable(frame));
    PanelLink::Status s = link.write(frame, deadline);
    int end;
    while (s == PanelLink::Ok && (end = link.buffer().indexOf(lineEnd)) < 0)
        s = link.fill(deadline);
    if (s != PanelLink::Ok) {
        *seen = link.buffer();
        return s == PanelLink::Broken ? UploadStart::Broken : UploadStart::NoAnswer;
    }
    *seen = link.buffer().left(end);
    // Further 'C's may follow; the sender skips them.
    link.buffer().remove(0, end + lineEnd.size());
    if (link.verbose())
        trace(QStringLiteral("< ") + printable(*seen));
    if (seen->endsWith(static_cast<char>(xmodem::CRC_REQUEST)))
        return UploadStart::Started;
    if (seen->contains(ackTag))
        return UploadStart::NotOpened;
    return UploadStart::Refused;
}

TransferOutcome sendFile(PanelLink &link, QIODevice &source, qint64 size, const TransferTiming &timing,
                         Progress &progress)
{
    const qint64 packets = (size + xmodem::DataSize - 1) / xmodem::DataSize;
    unsigned char packet[xmodem::PacketSize];
    char data[xmodem::DataSize];
    qint64 sent = 0;
    for (qint64 i = 0; i < packets; ++i) {
        const qint64 want = qMin<qint64>(xmodem::DataSize, size - sent);
        if (source.read(data, want) != want) {
            cancel(link);
            return outcome(TransferOutcome::LocalError, QStringLiteral("cannot read the file: %1").arg(source.errorString()));
        }
        xmodem::buildPacket(packet, static_cast<unsigned int>((i + 1) & 0xFF),
                            reinterpret_cast<const unsigned char *>(data), static_cast<size_t>(want));
        const QByteArray bytes(reinterpret_cast<const char *>(packet), xmodem::PacketSize);
        int naks = 0;
        for (bool acknowledged = false; !acknowledged;) {
            PanelLink::Status s = link.write(bytes, QDeadlineTimer(timing.answerMs));
            if (s != PanelLink::Ok)
                return linkOutcome(s, QStringLiteral("the line to take packet %1").arg(i + 1));
            const QDeadlineTimer deadline(timing.answerMs);
            for (bool answered = false; !answered;) {
                unsigned char b;
                s = nextByte(link, deadline, &b);
                if (s != PanelLink::Ok) {
                    cancel(link);
                    return linkOutcome(s, QStringLiteral("the acknowledgement of packet %1").arg(i + 1));
                }
                switch (b) {
                case xmodem::ACK:
                    answered = acknowledged = true;
                    break;
                case xmodem::NAK:
                    answered = true;
                    if (++naks >= MaxRetries) {
                        cancel(link);
                        return outcome(TransferOutcome::GaveUp,
                                       QStringLiteral("the panel refused packet %1 %2 times").arg(i + 1).arg(naks));
                    }
                    break;
                case xmodem::CAN:
                    return outcome(TransferOutcome::Cancelled,
                                   QStringLiteral("the panel cancelled the transfer at packet %1").arg(i + 1));
                default:
                    // Further requests for the first packet, or line noise.
                    break;
                }
            }
        }
        sent += want;
        progress.update(sent);
    }

    const QDeadlineTimer deadline(timing.endMs);
    QElapsedTimer endWait;
    endWait.start();
    for (int tries = 0;; ++tries) {
        PanelLink::Status s = link.writeByte(xmodem::EOT, deadline);
        unsigned char b = 0;
        while (s == PanelLink::Ok) {
            s = nextByte(link, deadline, &b);
            if (b == xmodem::ACK || b == xmodem::NAK || b == xmodem::CAN)
                break;
        }
        if (s != PanelLink::Ok)
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

TransferOutcome receiveFile(PanelLink &link, QIODevice &sink, qint64 size, const TransferTiming &timing,
                            Progress &progress)
{
    const qint64 packets = size / xmodem::DataSize + 1; // always one for the remainder
    // Until the panel listens, a 'C' would be taken as console input.
    QDeadlineTimer listening(FirstRequestMs);
    while (link.fill(listening) == PanelLink::Ok) {
    }
    link.buffer().clear();

    qint64 received = 0; // packets taken
    qint64 stored = 0;   // bytes written
    unsigned int block = 1;
    int requests = 0;
    int errors = 0;
    if (link.writeByte(xmodem::CRC_REQUEST, QDeadlineTimer(timing.answerMs)) != PanelLink::Ok)
        return outcome(TransferOutcome::Broken, QStringLiteral("the link broke off"));
    ++requests;

    for (;;) {
        const bool starting = received == 0;
        const QDeadlineTimer headerDeadline(starting ? RequestRepeatMs : timing.answerMs);
        unsigned char b;
        PanelLink::Status s = nextByte(link, headerDeadline, &b);
        if (s == PanelLink::TimedOut && starting && requests < RequestTries) {
            link.writeByte(xmodem::CRC_REQUEST, QDeadlineTimer(timing.answerMs));
            ++requests;
            continue;
        }
        if (s != PanelLink::Ok)
            return linkOutcome(s, starting ? QStringLiteral("the first packet") : QStringLiteral("the next packet"));

        if (b == xmodem::EOT) {
            if (received == packets)
                return outcome(TransferOutcome::Done, QString());
            return outcome(TransferOutcome::Cancelled,
                           QStringLiteral("the panel ended the file after %1 of %2 packets").arg(received).arg(packets));
        }
        if (b == xmodem::CAN)
            return outcome(TransferOutcome::Cancelled, QStringLiteral("the panel cancelled the transfer"));
        if (b != xmodem::STX)
            continue; // an echo of an early 'C', or line noise

        s = link.waitForSize(xmodem::PacketSize - 1, QDeadlineTimer(timing.answerMs));
        if (s == PanelLink::Broken)
            return linkOutcome(s, QString());
        bool good = false;
        bool repeat = false;
        if (s == PanelLink::Ok) {
            unsigned char packet[xmodem::PacketSize];
            packet[0] = xmodem::STX;
            memcpy(packet + 1, link.buffer().constData(), xmodem::PacketSize - 1);
            link.buffer().remove(0, xmodem::PacketSize - 1);
            if (xmodem::checkPacket(packet) == xmodem::Check::Good) {
                if (packet[1] == block && received < packets) {
                    const qint64 n = qMin<qint64>(xmodem::DataSize, size - stored);
                    if (n > 0 && sink.write(reinterpret_cast<const char *>(packet + 3), n) != n) {
                        cancel(link);
                        return outcome(TransferOutcome::LocalError,
                                       QStringLiteral("cannot write the file: %1").arg(sink.errorString()));
                    }
                    stored += n;
                    ++received;
                    block = (block + 1) & 0xFF;
                    good = true;
                } else if (packet[1] == ((block + 255) & 0xFF)) {
                    repeat = true; // our ACK got lost: take it again, keep nothing
                }
            }
        } else {
            link.discardInput(); // the rest of a stalled packet
        }
        if (good || repeat) {
            errors = 0;
            link.writeByte(xmodem::ACK, QDeadlineTimer(timing.answerMs));
            progress.update(stored);
            continue;
        }
        if (++errors >= MaxRetries) {
            cancel(link);
            return outcome(TransferOutcome::GaveUp, QStringLiteral("packet %1 arrived damaged %2 times").arg(received + 1).arg(errors));
        }
        link.writeByte(xmodem::NAK, QDeadlineTimer(timing.answerMs));
    }
}
