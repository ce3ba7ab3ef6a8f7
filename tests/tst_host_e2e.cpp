// End to end: the host tool kvx-host against the simulation executable. The
// tool gets a pseudo-terminal of its own; the test relays between it and the
// panel's link, as a USB cable would.

#include "panelsession.h"
#include "xmodem.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>
#include <functional>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#ifndef KVX_HOST_EXECUTABLE
#error "KVX_HOST_EXECUTABLE must name the host tool"
#endif

namespace {

struct HostRun
{
    int exitCode = -1;
    QString out;
    QString err;
    qint64 ms = 0;
};

void pass(int from, int to)
{
    char chunk[8192];
    ssize_t n;
    while ((n = ::read(from, chunk, sizeof chunk)) > 0) {
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(to, chunk + done, static_cast<size_t>(n - done));
            if (w > 0) {
                done += w;
            } else {
                struct pollfd p = { to, POLLOUT, 0 };
                poll(&p, 1, 50);
            }
        }
    }
}

// Plays the panel on the host's terminal: gets everything the tool sent so
// far and answers on the descriptor.
using PanelScript = std::function<void(const QByteArray &fromHost, int fd)>;

// Runs kvx-host on the terminal `host`; with a panel, relays both ways
// until the tool ends; with a script, lets it answer instead.
HostRun runHost(PtyLink &host, PanelSession *panel, const QStringList &args, int ms = 60000,
                const PanelScript &script = PanelScript())
{
    HostRun r;
    QProcess p;
    p.start(QStringLiteral(KVX_HOST_EXECUTABLE), QStringList{ "-p", host.slaveName() } + args);
    QElapsedTimer t;
    t.start();
    if (!p.waitForStarted(10000))
        return r;
    while (p.state() != QProcess::NotRunning && !p.waitForFinished(0) && t.elapsed() < ms) {
        if (panel) {
            struct pollfd fds[2] = { { panel->link.masterFd(), POLLIN, 0 }, { host.masterFd(), POLLIN, 0 } };
            poll(fds, 2, 10);
            pass(panel->link.masterFd(), host.masterFd());
            pass(host.masterFd(), panel->link.masterFd());
            panel->allLines(); // keeps the panel's diagnostics flowing
        } else if (script) {
            host.fill(10);
            script(host.buffer(), host.masterFd());
        } else {
            p.waitForFinished(20);
        }
    }
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.ms = t.elapsed();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

QByteArray randomBytes(int n)
{
    QByteArray data(n, '\0');
    for (int i = 0; i < n; ++i)
        data[i] = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return data;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class tst_host_e2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void commands_data();
    void commands();
    void infoTable();
    void refused_data();
    void refused();
    void transfersArriveIntact_data();
    void transfersArriveIntact();
    void upgradeArrivesIntact_data();
    void upgradeArrivesIntact();
    void downloadOverFaultyLine_data();
    void downloadOverFaultyLine();
    void silentPanel_data();
    void silentPanel();
    void noDevice_data();
    void noDevice();
    void failedTransfer_data();
    void failedTransfer();

private:
    PanelSession *m_panel = nullptr;
    PtyLink m_host;
    QTemporaryDir m_work;
};

void tst_host_e2e::initTestCase()
{
    QVERIFY(m_work.isValid());
    m_panel = new PanelSession;
    m_panel->sysroot.populate();
    m_panel->sysroot.writeAppFile("qml/project/main.qml", "Item {}\n");
    m_panel->sysroot.writeAppFile("qml/project/Alarm.qml", "Item {}\n");
    m_panel->sysroot.makeAppDir("tmp");
    QVERIFY(m_panel->start());
    QVERIFY(m_host.open());
}

void tst_host_e2e::cleanupTestCase()
{
    delete m_panel;
}

// One shared panel; the rows run in order, so later rows see earlier effects.
void tst_host_e2e::commands_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QString>("appFile");
    QTest::addColumn<QString>("fileHolds");

    QTest::newRow("tz") << QStringList{ "tz" } << "Time zone offset: 0 min" << QString() << QString();
    QTest::newRow("time") << QStringList{ "time", "--tz", "-90" } << "time zone offset -90 min" << "timezone.cfg"
                          << "-90";
    QTest::newRow("tz after time") << QStringList{ "tz" } << "Time zone offset: -90 min" << QString() << QString();
    QTest::newRow("cpu-id") << QStringList{ "cpu-id" } << "123456789abcdef0\n" << QString() << QString();
    QTest::newRow("exec") << QStringList{ "exec", "touch", "made-by-host" } << "exit code 0" << "made-by-host"
                          << QString();
    QTest::newRow("sync") << QStringList{ "sync" } << "synchronised" << QString() << QString();
    QTest::newRow("set name") << QStringList{ "set", "name", "Line 9 <west" } << "Set name" << QString() << QString();
    QTest::newRow("set dio") << QStringList{ "set", "dio", "3", "out", "hi" } << "Set dio" << QString() << QString();
    QTest::newRow("set pwm") << QStringList{ "set", "pwm", "2", "200" } << "Set pwm" << QString() << QString();
    QTest::newRow("set alarm") << QStringList{ "set", "alarm", "2", "hi" } << "Set alarm" << QString() << QString();
    QTest::newRow("set orientation") << QStringList{ "set", "orientation", "1" } << "Set orientation" << QString()
                                     << QString();
    QTest::newRow("set rs485") << QStringList{ "set", "rs485", "1" } << "Set rs485" << QString() << QString();
    QTest::newRow("set backlight") << QStringList{ "set", "backlight", "55" } << "Set backlight" << QString()
                                   << QString();
    QTest::newRow("set battery-check") << QStringList{ "set", "battery-check", "off" } << "Set battery-check"
                                       << QString() << QString();
    QTest::newRow("save: name") << QStringList{ "save" } << "saved" << "device_name.txt" << "NAM<Line 9 <west>";
    QTest::newRow("saved dio") << QStringList{ "tz" } << "-90" << "sys_conf.txt" << "DIO<03>H";
    QTest::newRow("saved pwm") << QStringList{ "tz" } << "-90" << "sys_conf.txt" << "PWM<2>H";
    QTest::newRow("saved alarm") << QStringList{ "tz" } << "-90" << "sys_conf.txt" << "ALM<02>H";
    QTest::newRow("saved orientation") << QStringList{ "tz" } << "-90" << "sys_conf.txt" << "ORI<1>";
    QTest::newRow("projects") << QStringList{ "projects" } << "Alarm.qml\nmain.qml\n" << QString() << QString();
    QTest::newRow("fonts") << QStringList{ "fonts" } << QString() << QString() << QString();
    QTest::newRow("remove-fonts") << QStringList{ "remove-fonts", "No Such", "Other" } << "lists 2 font families"
                                  << QString() << QString();
    QTest::newRow("raw") << QStringList{ "raw", "#SLTZ#" } << "<LOTIZO: -90>" << QString() << QString();
    QTest::newRow("raw without hashes") << QStringList{ "raw", "MODE<3>" } << "<MODE_ACK>" << QString() << QString();
}

void tst_host_e2e::commands()
{
    QFETCH(QStringList, args);
    QFETCH(QString, printed);
    QFETCH(QString, appFile);
    QFETCH(QString, fileHolds);
    const HostRun r = runHost(m_host, m_panel, args);
    QVERIFY2(r.exitCode == 0, qPrintable(QString("exit %1: %2").arg(r.exitCode).arg(r.err)));
    QVERIFY2(r.out.contains(printed), qPrintable(r.out));
    QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    if (!appFile.isEmpty()) {
        QVERIFY(m_panel->sysroot.appExists(appFile));
        QVERIFY2(m_panel->sysroot.readAppFile(appFile).contains(fileHolds.toUtf8()),
                 m_panel->sysroot.readAppFile(appFile).constData());
    }
}

void tst_host_e2e::infoTable()
{
    const HostRun r = runHost(m_host, m_panel, { "info" });
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 24); // heading and 23 values
    QVERIFY(lines.at(1).startsWith("SER_NO  serial number"));
    QVERIFY(lines.last().startsWith("LOTIZO  time zone offset"));
    QVERIFY(lines.last().endsWith(" -90"));
    bool named = false;
    for (const QString &line : lines)
        named = named || (line.startsWith("DEVNAM") && line.endsWith("  Line 9 <west"));
    QVERIFY2(named, qPrintable(r.out));
}

void tst_host_e2e::refused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");

    QTest::newRow("name too long") << QStringList{ "set", "name", QString(41, 'n') } << 4 << "<SNAM:ERR>";
    QTest::newRow("missing file") << QStringList{ "download", "no/such/file", "-o", "OUT" } << 4 << "cannot send";
    QTest::newRow("failing command") << QStringList{ "exec", "false" } << 4 << "<UNIX:ERR>";
    QTest::newRow("command not found") << QStringList{ "exec", "no-such-program-here" } << 4 << "did not start";
    QTest::newRow("empty upload") << QStringList{ "upload", "EMPTY" } << 1 << "empty";
    QTest::newRow("backlight 0") << QStringList{ "set", "backlight", "0" } << 1 << "1 to 100";
    QTest::newRow("channel 16") << QStringList{ "set", "dio", "16", "out", "hi" } << 1 << "usage";
    QTest::newRow("hash in text") << QStringList{ "exec", "echo", "#" } << 1 << "'#'";
    QTest::newRow("name too long for a file") << QStringList{ "upload", "SMALL", "--name", QString(52, 'f') } << 1
                                              << "longer than 51";
    QTest::newRow("unknown command") << QStringList{ "reboot-now" } << 1 << "unknown command";
}

void tst_host_e2e::refused()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QVERIFY(writeFile(m_work.filePath("EMPTY"), QByteArray()));
    QVERIFY(writeFile(m_work.filePath("SMALL"), "abc"));
    for (QString &a : args) {
        if (a == "EMPTY" || a == "SMALL" || a == "OUT")
            a = m_work.filePath(a);
    }
    const HostRun r = runHost(m_host, m_panel, args);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.startsWith("kvx-host: ") && r.err.contains(said), qPrintable(r.err));
    QVERIFY(!QFile::exists(m_work.filePath("OUT"))); // nothing half-written
    // The panel serves the next command as usual.
    QCOMPARE(runHost(m_host, m_panel, { "tz" }).exitCode, 0);
}

void tst_host_e2e::transfersArriveIntact_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("1 byte") << 1;
    QTest::newRow("1023") << 1023;
    QTest::newRow("1025") << 1025;
    QTest::newRow("2048, a padding-only packet back") << 2048;
    QTest::newRow("block numbers wrap") << 262 * 1024 + 77;
}

void tst_host_e2e::transfersArriveIntact()
{
    QFETCH(int, size);
    const QByteArray data = randomBytes(size);
    const QString source = m_work.filePath("source.bin");
    const QString back = m_work.filePath("back.bin");
    QFile::remove(back);
    QVERIFY(writeFile(source, data));

    HostRun r = runHost(m_host, m_panel, { "upload", source, "--name", "sample.bin" });
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QVERIFY(r.out.contains(QString("%1 bytes").arg(size)));
    QCOMPARE(m_panel->sysroot.readAppFile("tmp/sample.bin"), data);

    r = runHost(m_host, m_panel, { "download", "tmp/sample.bin", "-o", back });
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(readFile(back), data);
}

void tst_host_e2e::upgradeArrivesIntact_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("5000") << 5000;
    QTest::newRow("70001") << 70001;
}

void tst_host_e2e::upgradeArrivesIntact()
{
    QFETCH(int, size);
    // The installer ends in a reboot: this panel gets its own sysroot, whose
    // fake reboot must be the one found.
    PanelSession panel;
    panel.sysroot.populate();
    panel.sysroot.activate();
    QVERIFY(QStandardPaths::findExecutable("reboot").startsWith(panel.sysroot.root() + '/'));
    QVERIFY(panel.start());
    PtyLink host;
    QVERIFY(host.open());

    const QByteArray package = randomBytes(size);
    const QString file = m_work.filePath("firmware-9.tgz");
    QVERIFY(writeFile(file, package));
    const HostRun r = runHost(host, &panel, { "upgrade", file });
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains("<RTLD:NOR>"), qPrintable(r.out));
    const QByteArray digest = QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex();
    QVERIFY(r.out.contains(QString::fromLatin1(digest)));
    QVERIFY(panel.waitForLine("CXM: Hash Matched"));
    QCOMPARE(panel.sysroot.readAppFile("firmware-9.tgz"), package);
}

// The panel's side of a download, played by the test so that the line can
// misbehave: each row spoils one transmission.
void tst_host_e2e::downloadOverFaultyLine_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("naks");
    QTest::newRow("clean") << 3000 << "" << 0 << 0;
    QTest::newRow("damaged data") << 3000 << "crc" << 0 << 1;
    QTest::newRow("damaged block complement") << 3000 << "complement" << 0 << 1;
    QTest::newRow("packet cut short") << 3000 << "short" << 0 << 1;
    QTest::newRow("packet sent twice") << 3000 << "repeat" << 0 << 0;
    QTest::newRow("padding-only last packet") << 2048 << "" << 0 << 0;
    QTest::newRow("end too early") << 3000 << "early-eot" << 5 << 0;
}

void tst_host_e2e::downloadOverFaultyLine()
{
    QFETCH(int, size);
    QFETCH(QString, fault);
    QFETCH(int, exitCode);
    QFETCH(int, naks);
    const QByteArray data = randomBytes(size);
    const int packets = size / 1024 + 1;
    const QString out = m_work.filePath("fetched.bin");
    QFile::remove(out);

    auto packet = [&](int index) { // 1-based
        unsigned char bytes[xmodem::PacketSize];
        const QByteArray part = data.mid((index - 1) * 1024, 1024);
        xmodem::buildPacket(bytes, static_cast<unsigned>(index), reinterpret_cast<const unsigned char *>(part.constData()),
                            static_cast<size_t>(part.size()));
        return QByteArray(reinterpret_cast<const char *>(bytes), xmodem::PacketSize);
    };
    int used = 0;   // bytes of the host's taken so far
    int sent = 0;   // packets sent (the last one sent is `sent`)
    bool spoiled = false;
    int nakCount = 0;
    const PanelScript panel = [&](const QByteArray &fromHost, int fd) {
        auto send = [fd](const QByteArray &bytes) {
            for (int done = 0; done < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
                if (n > 0)
                    done += static_cast<int>(n);
            }
        };
        if (used == 0) {
            const int end = fromHost.indexOf(">#");
            if (end < 0)
                return;
            used = end + 2;
            send(fromHost.left(used) + "<GETF:" + QByteArray::number(size) + ">\n\r");
        }
        while (used < fromHost.size()) {
            const char b = fromHost.at(used++);
            QByteArray next;
            if (sent == 0 && b == 'C') {
                sent = 1;
                next = packet(1);
            } else if (sent > 0 && b == char(xmodem::NAK)) {
                ++nakCount;
                next = packet(sent);
            } else if (sent > 0 && b == char(xmodem::ACK)) {
                if (fault == "repeat" && sent == 1 && !spoiled) {
                    spoiled = true; // as if this ACK had been lost
                    next = packet(1);
                } else if (sent == packets || (fault == "early-eot" && sent == 1)) {
                    next = QByteArray(1, char(xmodem::EOT));
                    sent = packets + 1;
                } else {
                    next = packet(++sent);
                }
            }
            if (sent == 2 && !spoiled && !next.isEmpty() && fault != "repeat" && fault != "early-eot" && !fault.isEmpty()) {
                spoiled = true;
                if (fault == "crc")
                    next[500] = static_cast<char>(next.at(500) ^ 0x40);
                else if (fault == "complement")
                    next[2] = static_cast<char>(next.at(2) ^ 0x01);
                else if (fault == "short")
                    next.truncate(600); // the host waits, then asks again
            }
            send(next);
        }
    };
    PtyLink host;
    QVERIFY(host.open());
    const HostRun r = runHost(host, nullptr, { "-t", "0.5", "download", "some/file", "-o", out }, 20000, panel);
    QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
    QCOMPARE(nakCount, naks);
    if (exitCode == 0)
        QCOMPARE(readFile(out), data);
    else
        QVERIFY(!QFile::exists(out));
}

// A terminal nobody answers on.
void tst_host_e2e::silentPanel_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("info") << QStringList{ "info" };
    QTest::newRow("upload") << QStringList{ "upload", "SMALL" };
    QTest::newRow("download") << QStringList{ "download", "x", "-o", "OUT" };
}

void tst_host_e2e::silentPanel()
{
    QFETCH(QStringList, args);
    QVERIFY(writeFile(m_work.filePath("SMALL"), "abc"));
    for (QString &a : args) {
        if (a == "SMALL" || a == "OUT")
            a = m_work.filePath(a);
    }
    PtyLink silent;
    QVERIFY(silent.open());
    const HostRun r = runHost(silent, nullptr, QStringList{ "-t", "0.3" } + args);
    QCOMPARE(r.exitCode, 3);
    QVERIFY2(r.err.contains("no answer from the panel on " + silent.slaveName() + " within 0.3 s"), qPrintable(r.err));
    QVERIFY(r.ms < 5000);
    QVERIFY(!QFile::exists(m_work.filePath("OUT")));
}

void tst_host_e2e::noDevice_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("said");
    QTest::newRow("missing") << "/nonexistent/ttyACM9" << "no such device: /nonexistent/ttyACM9";
    QTest::newRow("regular file") << "FILE" << "is not a serial device";
    QTest::newRow("directory") << "DIR" << "is a directory";
    QTest::newRow("held by another program") << "BUSY" << "is busy: another program is using it";
}

void tst_host_e2e::noDevice()
{
    QFETCH(QString, device);
    QFETCH(QString, said);
    QVERIFY(writeFile(m_work.filePath("FILE"), "x"));
    QDir(m_work.path()).mkpath("DIR");
    if (device == "FILE" || device == "DIR")
        device = m_work.filePath(device);
    PtyLink busy;
    int holder = -1;
    if (device == "BUSY") {
        QVERIFY(busy.open());
        device = busy.slaveName();
        holder = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(holder >= 0);
        QCOMPARE(flock(holder, LOCK_EX | LOCK_NB), 0);
    }
    QProcess p;
    p.start(QStringLiteral(KVX_HOST_EXECUTABLE), { "-p", device, "info" });
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains(said), qPrintable(err));
    QCOMPARE(p.readAllStandardOutput(), QByteArray());
    if (holder >= 0)
        ::close(holder);
}

// A panel that takes the upload frame and then answers every packet the
// same way.
void tst_host_e2e::failedTransfer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");
    QTest::newRow("NAK after NAK") << QByteArray("\x15") << 5 << "refused packet 1 10 times";
    QTest::newRow("cancelled") << QByteArray("\x18\x18") << 5 << "cancelled the transfer at packet 1";
    QTest::newRow("silence") << QByteArray() << 3 << "no answer from the panel";
}

void tst_host_e2e::failedTransfer()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QVERIFY(writeFile(m_work.filePath("SMALL"), "abc"));
    PtyLink host;
    QVERIFY(host.open());
    bool started = false;
    int answered = 0;
    const PanelScript panel = [&](const QByteArray &fromHost, int fd) {
        const int frameEnd = fromHost.indexOf("3#");
        if (frameEnd < 0)
            return;
        const QByteArray start = fromHost.left(frameEnd + 2) + "<LOAD:ACK>C\n\r";
        if (!started && ::write(fd, start.constData(), static_cast<size_t>(start.size())) == start.size())
            started = true;
        const int packets = (fromHost.size() - frameEnd - 2) / 1029;
        for (; answered < packets; ++answered) {
            if (!answer.isEmpty() && ::write(fd, answer.constData(), static_cast<size_t>(answer.size())) < 0)
                return;
        }
    };
    const HostRun r = runHost(host, nullptr, { "-t", "0.5", "upload", m_work.filePath("SMALL") }, 20000, panel);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(said), qPrintable(r.err));
}

QTEST_GUILESS_MAIN(tst_host_e2e)
#include "tst_host_e2e.moc"
