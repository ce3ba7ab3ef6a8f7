#include "xmodemsender.h"

#include "xmodem.h"

#include <QElapsedTimer>
#include <poll.h>


QByteArray XmodemSender::packet(unsigned int block, const QByteArray &data)
{
    QByteArray p(xmodem::PacketSize, char(xmodem::SUB));
    p.replace(3, data.size(), data);
    xmodem::sealPacket(reinterpret_cast<unsigned char *>(p.data()), block);
    return p;
}

XmodemSender::Result XmodemSender::send(const QByteArray &data, int replyMs)
{
    // Whatever came before the first 'C' (an echo, a tag) is not ours.
    for (;;) {
        const QByteArray b = link.readExactly(1, replyMs);
        if (b.isEmpty())
            return NoStart;
        if (b.at(0) == char(xmodem::CRC_REQUEST))
            break;
    }
    const int count = (data.size() + xmodem::DataSize - 1) / xmodem::DataSize;
    for (int i = 0; i < count; ++i) {
        const QByteArray good = packet(static_cast<unsigned int>(i + 1), data.mid(i * xmodem::DataSize, xmodem::DataSize));
        for (int attempt = 0;; ++attempt) {
            if (attempt == 10)
                return GaveUp;
            QByteArray bytes = good;
            if (tamper)
                tamper(i, attempt, bytes);
            link.write(bytes);
            QByteArray reply = link.readExactly(1, replyMs);
            // A start request that crossed the first packet is no answer.
            while (i == 0 && reply == QByteArray(1, char(xmodem::CRC_REQUEST)))
                reply = link.readExactly(1, replyMs);
            if (reply.isEmpty())
                return NoReply;
            replies += reply;
            if (reply.at(0) == char(xmodem::ACK))
                break;
            if (reply.at(0) == char(xmodem::CAN))
                return Cancelled;
        }
    }
    link.write(QByteArray(1, char(xmodem::EOT)));
    const QByteArray reply = link.readExactly(1, replyMs);
    replies += reply;
    return reply == QByteArray(1, char(xmodem::ACK)) ? Done : NoReply;
}

QString runLrzsz(PtyLink &panel, const QStringList &command, const QString &dir, int turnaroundMs, int ms)
{
    PtyLink tty;
    QProcess p;
    p.setWorkingDirectory(dir);
    if (tty.open()) {
        p.setStandardInputFile(tty.slaveName());
        p.setStandardOutputFile(tty.slaveName());
        p.start(command.first(), command.mid(1));
    }
    if (!p.waitForStarted(10000))
        return command.first() + " did not start";
    QByteArray held = std::exchange(panel.buffer(), QByteArray()); // whatever the panel sent already
    bool spoke = false, startGiven = false;
    QElapsedTimer clock;
    clock.start();
    qint64 lastWrote = 0;
    while (clock.elapsed() < ms && p.state() != QProcess::NotRunning && !p.waitForFinished(0)) {
        struct pollfd fds[2] = { { tty.masterFd(), POLLIN, 0 }, { panel.masterFd(), POLLIN, 0 } };
        poll(fds, 2, 10);
        tty.fill(0);
        if (!tty.buffer().isEmpty()) {
            panel.write(std::exchange(tty.buffer(), QByteArray()));
            lastWrote = clock.elapsed();
            spoke = true;
        }
        panel.fill(0);
        held += std::exchange(panel.buffer(), QByteArray());
        if (held.isEmpty() || clock.elapsed() - lastWrote < turnaroundMs)
            continue;
        // Before the program has sent anything it gets one start request: the
        // ones that piled up meanwhile would read as answers to sx's first packet.
        if (spoke) {
            tty.write(held);
        } else if (!startGiven && held.contains(char(xmodem::CRC_REQUEST))) {
            tty.write(QByteArray(1, char(xmodem::CRC_REQUEST)));
            startGiven = true;
        }
        held.clear();
    }
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(5000);
        return command.first() + " did not finish: " + QString::fromLocal8Bit(p.readAllStandardError());
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QString("%1 failed (%2): %3").arg(command.first()).arg(p.exitCode()).arg(QString::fromLocal8Bit(p.readAllStandardError()));
    return QString();
}

bool download(PanelSession &s, const QByteArray &name, const QByteArray &data, int packets)
{
    QByteArray head = s.command("#GETF<" + name + ">#").endsWith("<GETF:" + QByteArray::number(data.size()) + ">\n\r") ? "C" : "";
    for (int tries = 0; tries < 50 && head == "C" && s.readFor(tries ? 20 : 400).isEmpty(); ++tries) {
        s.send("C");
        head = s.readExactly(1, 1000);
    }
    for (int i = 0; i <= data.size() / xmodem::DataSize; ++i) {
        if (head + s.readExactly(xmodem::PacketSize - 1, 3000) != XmodemSender::packet(i + 1, data.mid(i * xmodem::DataSize, xmodem::DataSize)))
            return false;
        if (i + 1 == packets)
            return true;
        s.send(QByteArray(1, xmodem::ACK));
        head = s.readExactly(1, 3000);
    }
    return head == QByteArray(1, xmodem::EOT);
}
