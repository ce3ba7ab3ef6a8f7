#ifndef KVX_HOSTLINK_TRANSFER_H
#define KVX_HOSTLINK_TRANSFER_H

#include "link.h"

#include <QByteArray>
#include <QString>
#include <functional>

class QIODevice;

namespace hostlink {

// How an upload frame (LOAD or RTLD) was taken.
enum class UploadStart {
    Started,   // the panel asked for the first packet
    Refused,   // no acknowledgement: name or size not accepted
    NotOpened, // acknowledged, but the panel could not open its file
    NoAnswer,
    Broken,
};

// Sends the frame and reads the panel's answer up to the LF CR that ends its
// handling. The panel discards its unread output when the reception starts,
// so the echo and the acknowledgement may arrive cut short; the 'C' that
// asks for the first packet always arrives, right before the LF CR.
UploadStart startUpload(Link &link, const QByteArray &frame, const QByteArray &ackTag, QDeadlineTimer deadline,
                        QByteArray *seen);

struct TransferOutcome
{
    enum Kind { Done, Cancelled, GaveUp, NoAnswer, Broken, LocalError, Ended };
    Kind kind = Done;
    QString message;
    qint64 endWaitMs = 0; // from the EOT to its acknowledgement
};

// The waits of a transfer.
struct TransferTiming
{
    int answerMs = 10000; // for each acknowledgement and each packet
    int endMs = 60000;    // for the answer to EOT (the panel checks the file first)
    // Before the receiver's first 'C': the panel listens for it only 400 ms
    // after its size reply, and takes an earlier one as console input. A
    // test that plays the panel and receives sets 0.
    int requestDelayMs = 500;
};

// Told the bytes done so far after each packet.
using ProgressFn = std::function<void(qint64 done)>;

// XMODEM-1K/CRC-16 send of size bytes from source, once the receiver asked
// for the first packet: one 1029-byte packet per ACK, resent on NAK (up to
// ten times), the last one padded with SUB, then EOT. A CAN from the
// receiver ends it.
TransferOutcome sendFile(Link &link, QIODevice &source, qint64 size, const TransferTiming &timing,
                         const ProgressFn &progress = {});

// XMODEM-1K/CRC-16 reception of a file announced with size bytes: asks with
// 'C' (again while no packet comes, a few times), checks every packet, takes
// a repeated one again without keeping it, and writes exactly size bytes.
TransferOutcome receiveFile(Link &link, QIODevice &sink, qint64 size, const TransferTiming &timing,
                            const ProgressFn &progress = {});

} // namespace hostlink

#endif
