#ifndef KVX_HOST_TRANSFER_H
#define KVX_HOST_TRANSFER_H

#include "panellink.h"

#include <QByteArray>
#include <QString>

class Progress;
class QIODevice;

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
UploadStart startUpload(PanelLink &link, const QByteArray &frame, const QByteArray &ackTag,
                        QDeadlineTimer deadline, QByteArray *seen);

struct TransferOutcome
{
    enum Kind { Done, Cancelled, GaveUp, NoAnswer, Broken, LocalError };
    Kind kind = Done;
    QString message;
    qint64 endWaitMs = 0; // from the EOT to its acknowledgement
};

// The host's waits during a transfer.
struct TransferTiming
{
    int answerMs = 10000; // for each acknowledgement and each packet
    int endMs = 60000;    // for the answer to EOT (the panel checks the file first)
};

// XMODEM-1K/CRC-16 send of size bytes from source, after startUpload: one
// 1029-byte packet per ACK, the last one padded with SUB, then EOT.
TransferOutcome sendFile(PanelLink &link, QIODevice &source, qint64 size, const TransferTiming &timing,
                         Progress &progress);

// XMODEM-1K/CRC-16 reception of a file the panel announced with size bytes:
// asks with 'C' once the panel listens (400 ms after its size reply), checks
// every packet, and keeps exactly size bytes.
TransferOutcome receiveFile(PanelLink &link, QIODevice &sink, qint64 size, const TransferTiming &timing,
                            Progress &progress);

#endif
