#ifndef KVX_PANEL_SESSION_H
#define KVX_PANEL_SESSION_H

#include "fddevice.h"
#include "link.h"
#include "testsysroot.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <climits>

// The host side of a pseudo-terminal, read and written through the host link
// library. Its slave is what the panel opens as dev/ttyGS0. The test also
// keeps the slave open itself (never reading it), so the master does not hang
// up while the panel has the link closed.
class PtyLink
{
public:
    ~PtyLink() { close(); }

    bool open();
    void close();
    int masterFd() const { return m_master; }
    QString slaveName() const { return m_slaveName; }
    // Points a symbolic link (for example sysroot/dev/ttyGS0) at the slave.
    bool linkAs(const QString &linkPath) const;

    hostlink::Link &host() { return m_host; }
    void write(const QByteArray &bytes) { m_host.write(bytes, QDeadlineTimer(5000)); }
    // Reads what arrives within ms milliseconds into the buffer.
    void fill(int ms) { m_host.fill(QDeadlineTimer(ms)); }
    QByteArray &buffer() { return m_host.buffer(); }

    // The panel's bytes up to and including needle (empty on time-out, the
    // buffer left as it was), or whatever comes within ms.
    QByteArray readUntil(const QByteArray &needle, int ms = 5000);
    QByteArray readFor(int ms);

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
    FdDevice m_device{ -1 };
    hostlink::Link m_host{ m_device };

public: // after the device, which must exist first
    // A console in the test's own process answers only while the Qt event
    // loop runs: with this set, the waits run it.
    bool &eventLoop = m_device.eventLoop;
};

// One simulated panel: a sysroot, its terminal and the kvx_recovery_sim
// process started on them. Every wait has a deadline. The panel's standard
// output goes to a file, so it never waits for the test to read it.
class PanelSession
{
public:
    ~PanelSession() { stop(); }

    TestSysroot sysroot;
    PtyLink link;
    QProcess process;

    // Copies the simulation executable into the application directory and
    // starts it there. With a link, dev/ttyGS0 points at the terminal first.
    // Waits for "CXM: Init Success".
    bool start(bool withLink = true, const QStringList &extraEnvironment = {});
    void stop();

    // Standard output, line by line. A wait consumes the lines up to the one
    // it found (equal, or containing the text), so consecutive waits check
    // the order of the diagnostics.
    bool waitForLine(const QString &line, int ms = 5000, bool containing = false);
    QStringList allLines();

    // The terminal (see PtyLink). command sends a frame and returns
    // everything up to and including the LF CR that ends its handling.
    void send(const QByteArray &bytes) { link.write(bytes); }
    QByteArray command(const QByteArray &frame);
    // One turn of a cable between the terminal and host (another pseudo-
    // terminal, say a host tool's): what either side wrote crosses over.
    void relay(PtyLink &host);

private:
    int m_cursor = 0;
};

// size bytes from a generator seeded with seed: the same on every run.
QByteArray randomBytes(quint32 seed, int size);

// An XMODEM-1K packet as the panel's protocol builds it: STX, block,
// complement, the data padded with SUB to 1024 bytes, CRC.
QByteArray xmodemPacket(unsigned int block, const QByteArray &data);

// The host side of a transfer, through the host link library on the link's
// terminal: an upload with LOAD (true when the panel took it all), or a
// download with GETF compared with data (with packets: stopped after that
// many, the last one unanswered, so the panel is left waiting).
bool upload(PtyLink &link, const QByteArray &name, const QByteArray &data);
bool download(PtyLink &link, const QByteArray &name, const QByteArray &data, int packets = INT_MAX);

// Runs an lrzsz program (sx -k, rx -c) in dir on a pseudo-terminal of its own
// and relays between it and the panel's link until it ends or ms pass. The
// panel's bytes wait until the program has been quiet for turnaroundMs, as on
// a real line: rx drops its pending input right after each ACK it writes.
// Empty when the program ended successfully, else what went wrong.
QString runLrzsz(PtyLink &panel, const QStringList &command, const QString &dir, int turnaroundMs, int ms);

#endif
