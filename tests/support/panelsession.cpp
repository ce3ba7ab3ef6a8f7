#include "panelsession.h"

#include "transfer.h"
#include "xmodem.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#ifndef KVX_SIM_EXECUTABLE
#error "KVX_SIM_EXECUTABLE must name the simulation executable"
#endif

bool PtyLink::open()
{
    close();
    // Not inherited by the panel: a master held open by the child itself
    // would keep the link from ever hanging up.
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return close(), false;
    m_slaveName = QString::fromLocal8Bit(ptsname(m_master));
    m_slave = ::open(ptsname(m_master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0)
        return close(), false;
    // Raw from the start, so nothing is echoed before the panel sets it up.
    struct termios t {};
    tcgetattr(m_slave, &t);
    cfmakeraw(&t);
    tcsetattr(m_slave, TCSANOW, &t);
    m_device.setFd(m_master);
    m_host.buffer().clear();
    return true;
}

void PtyLink::close()
{
    for (int fd : { m_slave, m_master })
        if (fd >= 0)
            ::close(fd);
    m_slave = m_master = -1;
    m_device.setFd(-1);
}

bool PtyLink::linkAs(const QString &linkPath) const
{
    QFile::remove(linkPath);
    return QFile::link(m_slaveName, linkPath);
}

QByteArray PtyLink::readUntil(const QByteArray &needle, int ms)
{
    const int at = m_host.waitFor(needle, QDeadlineTimer(ms));
    const QByteArray got = at < 0 ? QByteArray() : buffer().left(at + needle.size());
    buffer().remove(0, got.size());
    return got;
}

QByteArray PtyLink::readFor(int ms)
{
    m_host.waitForSize(INT_MAX, QDeadlineTimer(ms)); // never that many: all that comes before the deadline
    return std::exchange(buffer(), QByteArray());
}

bool PanelSession::start(bool withLink, const QStringList &extraEnvironment)
{
    if (!sysroot.isValid() || (withLink && (!link.open() || !link.linkAs(sysroot.path("dev/ttyGS0")))))
        return false;
    const QString exe = sysroot.appPath("kvx_recovery_sim");
    if (!QFile::exists(exe) && !QFile::copy(QStringLiteral(KVX_SIM_EXECUTABLE), exe))
        return false;
    // A later entry replaces an earlier one: the caller's win.
    process.setEnvironment(QProcess::systemEnvironment() + QStringList{ "KVX_SYSROOT=" + sysroot.root(), "QT_QPA_PLATFORM=offscreen", "TZ=UTC" }
                           + extraEnvironment);
    process.setWorkingDirectory(sysroot.appDir());
    process.setStandardOutputFile(sysroot.path("../panel.stdout"), QIODevice::Append); // a restarted panel's lines follow
    process.start(exe, QStringList());
    return process.waitForStarted(10000) && waitForLine("CXM: Init Success", 15000);
}

void PanelSession::stop()
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QStringList PanelSession::allLines()
{
    QStringList lines = QString::fromLocal8Bit(sysroot.readFile("../panel.stdout")).split('\n');
    lines.removeLast(); // the rest of a line still being written
    return lines;
}

bool PanelSession::waitForLine(const QString &line, int ms, bool containing)
{
    for (QDeadlineTimer deadline(ms);;) {
        const QStringList lines = allLines();
        for (int i = m_cursor; i < lines.size(); ++i) {
            if (containing ? lines.at(i).contains(line) : lines.at(i) == line) {
                m_cursor = i + 1;
                return true;
            }
        }
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        process.waitForFinished(20); // the next look at the file is the last if the panel ends meanwhile
        link.fill(0); // the panel never waits to write to the terminal either
    }
}

QByteArray PanelSession::command(const QByteArray &frame)
{
    send(frame);
    return link.readUntil(QByteArray("\n\r"));
}

void PanelSession::relay(PtyLink &host)
{
    struct pollfd fds[2] = { { link.masterFd(), POLLIN, 0 }, { host.masterFd(), POLLIN, 0 } };
    poll(fds, 2, 10);
    link.fill(0);
    host.fill(0);
    host.write(std::exchange(link.buffer(), QByteArray()));
    link.write(std::exchange(host.buffer(), QByteArray()));
}

QByteArray randomBytes(quint32 seed, int size)
{
    QVector<quint32> words(size / 4 + 1);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), size);
}

QByteArray xmodemPacket(unsigned int block, const QByteArray &data)
{
    QByteArray p(xmodem::PacketSize, '\0');
    xmodem::buildPacket(reinterpret_cast<unsigned char *>(p.data()), block & 0xFF,
                        reinterpret_cast<const unsigned char *>(data.constData()), static_cast<size_t>(data.size()));
    return p;
}

bool upload(PtyLink &link, const QByteArray &name, const QByteArray &data)
{
    QByteArray seen, bytes = data;
    QBuffer source(&bytes);
    return source.open(QIODevice::ReadOnly)
        && hostlink::startUpload(link.host(), "#LOAD<" + name + ">" + QByteArray::number(data.size()) + "#", "<LOAD:ACK>",
                                 QDeadlineTimer(5000), &seen) == hostlink::UploadStart::Started
        && hostlink::sendFile(link.host(), source, data.size(), hostlink::TransferTiming{ 3000, 5000 }).kind == hostlink::TransferOutcome::Done;
}

bool download(PtyLink &link, const QByteArray &name, const QByteArray &data, int packets)
{
    hostlink::Link &host = link.host();
    host.setTap([packets](const hostlink::Outgoing &what, QByteArray &bytes, hostlink::Tampering &how) {
        how.endStream = what.kind == hostlink::Outgoing::Control && what.packet == packets && bytes == QByteArray(1, char(xmodem::ACK));
    });
    QByteArray reply, got;
    QBuffer sink(&got);
    const bool started = host.exchange("#GETF<" + name + ">#", QDeadlineTimer(5000), &reply) == hostlink::Link::Ok
        && reply == "<GETF:" + QByteArray::number(data.size()) + ">" && sink.open(QIODevice::WriteOnly);
    const auto outcome = started ? hostlink::receiveFile(host, sink, data.size(), hostlink::TransferTiming{ 3000, 5000 }).kind
                                 : hostlink::TransferOutcome::Broken;
    host.setTap(nullptr);
    return packets == INT_MAX ? outcome == hostlink::TransferOutcome::Done && got == data
                              : outcome == hostlink::TransferOutcome::Ended && got == data.left(got.size());
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
    const QDeadlineTimer deadline(ms);
    QDeadlineTimer turnaround; // expired: the panel's bytes may go
    while (!deadline.hasExpired() && p.state() != QProcess::NotRunning && !p.waitForFinished(0)) {
        struct pollfd fds[2] = { { tty.masterFd(), POLLIN, 0 }, { panel.masterFd(), POLLIN, 0 } };
        poll(fds, 2, 10);
        tty.fill(0);
        if (!tty.buffer().isEmpty()) {
            panel.write(std::exchange(tty.buffer(), QByteArray()));
            turnaround.setRemainingTime(turnaroundMs);
            spoke = true;
        }
        panel.fill(0);
        held += std::exchange(panel.buffer(), QByteArray());
        if (held.isEmpty() || !turnaround.hasExpired())
            continue;
        // Before the program has sent anything it gets one start request: the
        // ones that piled up meanwhile would read as answers to sx's first packet.
        const bool start = !spoke && !startGiven && held.contains(char(xmodem::CRC_REQUEST));
        tty.write(spoke ? held : start ? QByteArray(1, char(xmodem::CRC_REQUEST)) : QByteArray());
        startGiven = startGiven || start;
        held.clear();
    }
    const bool finished = p.state() == QProcess::NotRunning;
    p.kill();
    p.waitForFinished(5000);
    if (!finished || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QString("%1 %2 (%3): %4").arg(command.first(), finished ? "failed" : "did not finish").arg(p.exitCode()).arg(QString::fromLocal8Bit(p.readAllStandardError()));
    return QString();
}
