#ifndef KVX_XMODEM_SENDER_H
#define KVX_XMODEM_SENDER_H

#include "panelsession.h"

#include "stdoutcapture.h"

#include <QByteArray>
#include <climits>
#include <QProcess>
#include <QStringList>
#include <cstdio>
#include <functional>

// Downloads `name` with GETF from the panel of s and checks every packet
// against data: one packet more than the full ones, then EOT. The panel
// listens 400 ms after its size reply (an earlier 'C' is echoed, and the host
// asks again). Stops after `packets`, the last one unanswered.
bool download(PanelSession &s, const QByteArray &name, const QByteArray &data, int packets = INT_MAX);

// The host side of an XMODEM-1K/CRC upload, on a pseudo-terminal's master.
class XmodemSender
{
public:
    explicit XmodemSender(PtyLink &link) : link(link) {}

    // STX, block, complement, the data padded with SUB to 1024, CRC.
    static QByteArray packet(unsigned int block, const QByteArray &data);

    // Called before every transmission of packet `index` (0-based) at try
    // `attempt` (0-based); may change the bytes or cut them short.
    std::function<void(int index, int attempt, QByteArray &bytes)> tamper;

    enum Result { Done, NoStart, Cancelled, GaveUp, NoReply };
    // Waits for 'C', sends the packets (a NAK repeats one, up to ten tries),
    // then EOT; Done when the EOT was acknowledged.
    Result send(const QByteArray &data, int replyMs = 3000);
    // The reply to every transmission and to the EOT, in order.
    QByteArray replies;
    PtyLink &link;
};

// Runs an lrzsz program (sx -k, rx -c) in dir on a pseudo-terminal of its own
// and relays between it and the panel's link until it ends or ms pass. The
// panel's bytes wait until the program has been quiet for turnaroundMs, as on
// a real line: rx drops its pending input right after each ACK it writes.
// Empty when the program ended successfully, else what went wrong.
QString runLrzsz(PtyLink &panel, const QStringList &command, const QString &dir, int turnaroundMs, int ms);

#endif
