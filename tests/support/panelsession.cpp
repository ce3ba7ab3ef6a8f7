#include "panelsession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#ifndef KVX_SIM_EXECUTABLE
#error "KVX_SIM_EXECUTABLE must name the simulation executable"
#endif

PtyLink::PtyLink()
    : m_master(-1)
    , m_slave(-1)
{
}

PtyLink::~PtyLink()
{
    close();
}

bool PtyLink::open()
{
    close();
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0)
        return false;
    // Not inherited by the panel: a master held open by the child itself
    // would keep the link from ever hanging up.
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        close();
        return false;
    }
    m_slaveName = QString::fromLocal8Bit(ptsname(m_master));
    m_slave = ::open(ptsname(m_master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0) {
        close();
        return false;
    }
    // Raw from the start, so nothing is echoed before the panel sets it up.
    struct termios t {};
    tcgetattr(m_slave, &t);
    cfmakeraw(&t);
    tcsetattr(m_slave, TCSANOW, &t);
    m_buffer.clear();
    return true;
}

void PtyLink::close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = -1;
    m_master = -1;
}

bool PtyLink::linkAs(const QString &linkPath) const
{
    QFile::remove(linkPath);
    return QFile::link(m_slaveName, linkPath);
}

void PtyLink::write(const QByteArray &bytes)
{
    int done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += static_cast<int>(n);
        } else if (n < 0 && errno == EAGAIN) {
            struct pollfd p { m_master, POLLOUT, 0 };
            poll(&p, 1, 100);
        } else {
            break;
        }
    }
}

void PtyLink::fill(int ms)
{
    if (m_master < 0)
        return;
    struct pollfd p { m_master, POLLIN, 0 };
    if (poll(&p, 1, ms) <= 0 || !(p.revents & POLLIN))
        return;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n <= 0)
            break;
        m_buffer.append(chunk, static_cast<int>(n));
    }
}

PanelSession::PanelSession()
    : m_cursor(0)
{
}

PanelSession::~PanelSession()
{
    stop();
}

bool PanelSession::start(bool withLink, const QStringList &extraEnvironment)
{
    if (!sysroot.isValid())
        return false;
    if (withLink) {
        if (!link.open() || !link.linkAs(sysroot.path("dev/ttyGS0")))
            return false;
    }
    const QString exe = sysroot.appPath("kvx_recovery_sim");
    QFile::remove(exe);
    if (!QFile::copy(QStringLiteral(KVX_SIM_EXECUTABLE), exe))
        return false;
    QFile::setPermissions(exe, QFile::permissions(exe) | QFileDevice::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KVX_SYSROOT", sysroot.root());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TZ", "UTC");
    for (const QString &entry : extraEnvironment) {
        const int eq = entry.indexOf('=');
        env.insert(entry.left(eq), entry.mid(eq + 1));
    }
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(sysroot.appDir());
    process.setProgram(exe);
    process.start();
    if (!process.waitForStarted(10000))
        return false;
    return waitForLine("CXM: Init Success", 15000);
}

void PanelSession::stop()
{
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
}

void PanelSession::collectOutput()
{
    process.waitForReadyRead(0);
    m_out += process.readAllStandardOutput();
    int nl;
    while ((nl = m_out.indexOf('\n')) >= 0) {
        m_lines << QString::fromLocal8Bit(m_out.left(nl));
        m_out.remove(0, nl + 1);
    }
}

void PanelSession::pump(int ms)
{
    if (link.isOpen()) {
        link.fill(ms);
    } else if (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(ms);
    }
    collectOutput();
}

bool PanelSession::waitForLine(const QString &line, int ms)
{
    return waitForMatch([&line](const QString &l) { return l == line; }, ms);
}

bool PanelSession::waitForLineContaining(const QString &text, int ms)
{
    return waitForMatch([&text](const QString &l) { return l.contains(text); }, ms);
}

bool PanelSession::waitForMatch(const std::function<bool(const QString &)> &matches, int ms)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        collectOutput();
        for (int i = m_cursor; i < m_lines.size(); ++i) {
            if (matches(m_lines.at(i))) {
                m_cursor = i + 1;
                return true;
            }
        }
        if (t.elapsed() >= ms)
            return false;
        if (process.state() == QProcess::NotRunning && !process.bytesAvailable())
            return false;
        process.waitForReadyRead(qMin<qint64>(20, ms - t.elapsed()));
        if (link.isOpen())
            link.fill(0);
    }
}

QStringList PanelSession::allLines()
{
    collectOutput();
    return m_lines;
}

QString PanelSession::stderrText()
{
    return QString::fromLocal8Bit(process.readAllStandardError());
}

void PanelSession::send(const QByteArray &bytes)
{
    link.write(bytes);
}

QByteArray PanelSession::readUntil(const QByteArray &needle, int ms)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        const int at = link.buffer().indexOf(needle);
        if (at >= 0) {
            const QByteArray got = link.buffer().left(at + needle.size());
            link.buffer().remove(0, at + needle.size());
            return got;
        }
        if (t.elapsed() >= ms)
            return QByteArray();
        pump(static_cast<int>(qMin<qint64>(20, ms - t.elapsed())));
    }
}

QByteArray PanelSession::readExactly(int n, int ms)
{
    QElapsedTimer t;
    t.start();
    while (link.buffer().size() < n && t.elapsed() < ms)
        pump(static_cast<int>(qMin<qint64>(20, ms - t.elapsed())));
    if (link.buffer().size() < n)
        return QByteArray();
    const QByteArray got = link.buffer().left(n);
    link.buffer().remove(0, n);
    return got;
}

QByteArray PanelSession::readFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        pump(static_cast<int>(qMin<qint64>(20, ms - t.elapsed())));
    const QByteArray got = link.buffer();
    link.buffer().clear();
    return got;
}

QByteArray PanelSession::command(const QByteArray &frame, int ms)
{
    send(frame);
    return readUntil(QByteArray("\n\r"), ms);
}
