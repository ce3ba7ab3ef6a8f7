// End to end: the host tool kvx-host against the simulation executable. The
// tool gets a pseudo-terminal of its own; the test relays between it and the
// panel's link, as a USB cable would, or plays a misbehaving panel itself.

#include "panelsession.h"
#include "port.h"
#include "transfer.h"

#include <QtTest>
#include <sys/stat.h>

struct HostRun { int exitCode = -1; QString out, err; qint64 ms = 0; };

// printed: on standard output, or on error output when failing (%TTY: the tool's terminal); files: "application
// file=text it holds", or one that equals SRC; answers: what a played panel does (PANEL: the simulated one plays);
// naks: the tool's; source: SRC beforehand, and what a played panel sends.
struct Run { QStringList args; int exitCode; QString printed; QStringList files;
             QString answers; int naks; QByteArray source; };
Q_DECLARE_METATYPE(Run)

// Runs kvx-host on the terminal `host` (unless the arguments name another
// device), calling step until the tool ends.
static HostRun runHost(PtyLink &host, const QStringList &args, const std::function<void()> &step, int ms)
{
    HostRun r;
    QProcess p;
    p.start(QStringLiteral(KVX_HOST_EXECUTABLE),
            (args.at(0) == "-p" ? QStringList() : QStringList{ "-p", host.slaveName() }) + args);
    QElapsedTimer t;
    t.start();
    while (p.waitForStarted(10000) && !p.waitForFinished(0) && t.elapsed() < ms)
        step();
    r.ms = t.elapsed();
    p.kill(); // still running: the exit code stays -1
    p.waitForFinished(5000);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

class tst_host_e2e : public QObject
{
    Q_OBJECT

    PanelSession m_panel; // shared: later rows see earlier effects
    TestSysroot m_work; // the PC's files: EMPTY, SMALL, FILE, DIR, FIFO, SRC, and OUT made only by a download

private slots:
    void initTestCase()
    {
        m_work.writeFile("EMPTY", QByteArray());
        m_work.writeFile("SMALL", "abc");
        m_work.writeFile("FILE", "x");
        QVERIFY(QDir().mkpath(m_work.path("DIR")));
        QCOMPARE(mkfifo(QFile::encodeName(m_work.path("FIFO")).constData(), 0600), 0);
        m_panel.sysroot.activate(); // the installer's reboot is the panel's fake one
        QVERIFY(QStandardPaths::findExecutable("reboot").startsWith(m_panel.sysroot.root() + '/'));
        m_panel.sysroot.writeAppFile("qml/project/main.qml", "Item {}\n");
        m_panel.sysroot.writeAppFile("qml/project/Alarm.qml", "Item {}\n");
        m_panel.sysroot.makeAppDir("tmp");
        // Real fonts beside a file that is none; old firmware files that an upgrade removes, and a directory it keeps.
        m_panel.sysroot.writeAppFile("fonts/notes.txt", "not a font");
        for (const char *name : { "DejaVuSans.ttf", "DejaVuSans-Bold.ttf" })
            QVERIFY(QFile::copy(QString("/usr/share/fonts/truetype/dejavu/") + name, m_panel.sysroot.appPath(QString("fonts/") + name)));
        m_panel.sysroot.writeAppFile("firmware.v1", "old");
        m_panel.sysroot.makeAppDir("firmware.vdir");
        QVERIFY(m_panel.start());
    }

    // Each command, on the one panel (a refused one leaves it serving the next) or on one played by the test
    // through the link library, whose tap does the damage: "LOAD ack" takes an upload answering each packet with
    // ack (nak, can or nothing); "GETF fault" sends a 3000-byte file with packet 2 damaged in its data (crc) or
    // block complement (cpl), cut short, replaced by an early EOT (end) or by the line's end (gone), held back
    // (stall), or with packet 1 sent twice. Transfers: a size just over a packet's, and
    // block numbers that wrap; an upgrade of bytes that are no package (sent only with --force), whose installer
    // ends in a reboot.
    void commands_data()
    {
        QTest::addColumn<Run>("run");
        auto row = [](const char *name, const QString &args, int exitCode, const QString &printed,
                      const QStringList &files = {}, const QByteArray &source = {}) {
            QTest::newRow(name) << Run{ args.split('|'), exitCode, printed, files, "PANEL", 0, source };
        };
        auto fake = [](const char *name, const QString &args, const QString &answers, int exitCode,
                       const QString &printed, int naks = 0) {
            QTest::newRow(name) << Run{ args.split('|'), exitCode, printed, {}, answers, naks, randomBytes(3, 3000) };
        };
        row("tz", "tz", 0, "Time zone offset: 0 min");
        row("time", "time|--tz|-90", 0, "time zone offset -90 min", { "timezone.cfg=-90" });
        row("cpu-id", "cpu-id", 0, "123456789abcdef0\n");
        row("exec", "exec|touch|made-by-host", 0, "exit code 0", { "made-by-host=" });
        row("sync", "sync", 0, "synchronised");
        row("set name", "set|name|Line 9 <west", 0, "Set name");
        row("set dio", "set|dio|3|out|hi", 0, "Set dio");
        row("set pwm", "set|pwm|2|200", 0, "Set pwm");
        row("set alarm", "set|alarm|2|hi", 0, "Set alarm");
        row("set orientation", "set|orientation|1", 0, "Set orientation");
        row("set rs485", "set|rs485|1", 0, "Set rs485");
        row("set backlight", "set|backlight|55", 0, "Set backlight");
        row("set battery-check", "set|battery-check|off", 0, "Set battery-check");
        row("save", "save", 0, "saved", { "device_name.txt=NAM<Line 9 <west>", "sys_conf.txt=DIO<03>H",
                                          "sys_conf.txt=PWM<2>H", "sys_conf.txt=ALM<02>H", "sys_conf.txt=ORI<1>" });
        row("info", "info", 0, "^Tag (?=[\\s\\S]*\nDEVNAM .*  Line 9 <west\n).*\nSER_NO  serial number .*\n(.*\n){21}"
                               "LOTIZO  time zone offset .* -90\n$");
        row("missing file", "download|no/such/file|-o|OUT", 4, "cannot send");
        row("failing command", "exec|false", 4, "<UNIX:ERR>");
        row("command not found", "exec|no-such-program-here", 4, "did not start");
        row("empty upload", "upload|EMPTY", 1, "empty");
        row("upgrade from a FIFO", "upgrade|FIFO", 1, "FIFO is a named pipe \\(FIFO\\), not a file");
        row("check a directory", "check|DIR", 1, "DIR is a directory, not a file");
        row("backlight 0", "set|backlight|0", 1, "1 to 100");
        row("channel 16", "set|dio|16|out|hi", 1, "usage");
        row("hash in text", "exec|echo|#", 1, "'#'");
        row("name too long for a file", "upload|SMALL|--name|" + QString(52, 'f'), 1, "longer than 51");
        row("unknown command", "reboot-now", 1, "unknown command");
        row("a command's help", "upload|--help", 0, "upload FILE \\[--name NAME\\]\n\nsend a file");
        row("projects", "projects", 0, "Alarm.qml\nmain.qml\n");
        row("fonts", "fonts", 0, "^user    DejaVu Sans\n(system  .*\n)*$");
        row("remove-fonts", "remove-fonts|DejaVu Sans|Other", 0, "lists 2 font families",
            { "fonts/removal=DejaVuSans-Bold.ttf\nDejaVuSans.ttf", "fonts/DejaVuSans.ttf=" }); // listed, not removed
        row("raw without hashes", "raw|MODE<3>", 0, "<MODE_ACK>");
        for (const QString size : { "1025", "268365" }) {
            const QByteArray data = randomBytes(4, size.toInt());
            row(qPrintable("upload " + size), "upload|SRC|--name|sample.bin", 0, size + " bytes", { "tmp/sample.bin" },
                data);
            row(qPrintable("download " + size), "download|tmp/sample.bin|-o|OUT", 0, size + " bytes");
        }
        // A font whose name is taken gets a free one beside it.
        row("font upload", "upload|SRC|--name|DejaVuSans.ttf", 0, "1500 bytes", { "fonts/DejaVuSans0.ttf", "!tmp/DejaVuSans.ttf" },
            randomBytes(5, 1500));
        const QByteArray package = randomBytes(6, 70001);
        const QString md5 = QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex();
        row("upgrade", "upgrade|SRC|--force", 0, "MD5 " + md5 + "[^\n]*\n<RTLD:NOR>", { "SRC", "!firmware.v1", "firmware.vdir=" }, package);
        const QString up = "-t|0.5|upload|SMALL", down = "-t|0.5|download|some/file|-o|OUT";
        fake("silent", "-t|0.3|info", "", 3, "no answer from the panel on %TTY within 0.3 s");
        fake("upload: NAK after NAK", up, "LOAD nak", 5, "refused packet 1 10 times");
        fake("upload: cancelled", up, "LOAD can", 5, "cancelled the transfer at packet 1");
        fake("upload: silence", up, "LOAD none", 3, "no answer from the panel");
        fake("download: damaged data", down, "GETF crc", 0, "Downloaded some/file", 1);
        fake("download: damaged block complement", down, "GETF cpl", 0, "Downloaded some/file", 1);
        fake("download: packet cut short", down, "GETF cut", 0, "Downloaded some/file", 1);
        fake("download: packet sent twice", down, "GETF twice", 0, "Downloaded some/file");
        fake("download: end too early", down, "GETF end", 5, "ended the file after 1 of 3 packets");
        fake("download: panel stalls", down, "GETF stall", 3, "no answer from the panel while waiting for the next");
        fake("download: panel vanishes", down, "GETF gone", 2, "failed on %TTY: the link broke off");
        fake("no such device", "-p|/nonexistent/ttyACM9|info", "", 2, "no such device: /nonexistent/ttyACM9");
        fake("regular file", "-p|FILE|info", "", 2, "is not a serial device");
        fake("directory", "-p|DIR|info", "", 2, "is a directory");
        fake("not a terminal", "-p|FIFO|info", "", 2, "FIFO is not a serial device");
        fake("held by another program", "info", "BUSY", 2, "is busy: another program is using it");
    }

    void commands()
    {
        QFETCH(Run, run);
        QStringList &args = run.args;
        for (QString &a : args)
            a = QStringList{ "EMPTY", "SMALL", "FILE", "DIR", "FIFO", "OUT", "SRC" }.contains(a) ? m_work.path(a) : a;
        const bool real = run.answers == "PANEL";
        if (!run.source.isEmpty())
            m_work.writeFile("SRC", run.source);
        PtyLink host;
        QVERIFY(host.open());
        hostlink::Link &link = host.host();
        const QString kind = real ? QString() : run.answers.section(' ', 0, 0), fault = run.answers.section(' ', 1);
        int nakCount = 0; // resends of the played panel's packets
        link.setTap([&](const hostlink::Outgoing &what, QByteArray &bytes, hostlink::Tampering &how) {
            const bool first = what.kind == hostlink::Outgoing::Packet && what.attempt == 0;
            nakCount += what.kind == hostlink::Outgoing::Packet && what.attempt > 0;
            if (what.kind == hostlink::Outgoing::Control && bytes == "\x06" && fault != "ack")
                bytes = fault == "nak" ? "\x15" : fault == "can" ? "\x18\x18" : "";
            if (first && what.packet == 2) {
                bytes[500] = static_cast<char>(bytes.at(500) ^ (fault == "crc" ? 0x40 : 0));
                bytes[2] = static_cast<char>(bytes.at(2) ^ (fault == "cpl" ? 0x01 : 0));
                bytes.truncate(fault == "cut" ? 600 : bytes.size()); // the tool waits, then asks again
                how.endStream = fault == "end" || fault == "gone";
                how.delayMs = fault == "stall" ? 1500 : 0;
                if (fault == "gone")
                    host.close(); // the panel unplugged
            }
            if (first && what.packet == 1 && fault == "twice")
                bytes += bytes;
        });
        bool played = false;
        const auto panel = [&] {
            link.fill(QDeadlineTimer(10));
            const int end = link.buffer().indexOf('#', 1);
            if (played || !(kind == "LOAD" || kind == "GETF") || end < 0)
                return;
            played = true; // the frame, echoed with the first answer; then the whole transfer
            const QByteArray frame = link.buffer().left(end + 1);
            link.buffer().clear();
            link.write(frame + (kind == "LOAD" ? "<LOAD:ACK>C\n\r" : "<GETF:3000>\n\r"), QDeadlineTimer(1000));
            hostlink::TransferTiming timing{ 2000, 300, 0 };
            QBuffer file(&run.source);
            file.open(QIODevice::ReadWrite);
            if (kind == "LOAD")
                hostlink::receiveFile(link, file, 3, timing);
            else if (link.waitFor("C", QDeadlineTimer(5000)) >= 0 && (link.buffer().clear(), true))
                hostlink::sendFile(link, file, run.source.size(), timing);
        };
        QString error;
        auto holder = run.answers == "BUSY" ? hostlink::openPort(host.slaveName(), &error) : nullptr;
        QVERIFY2(run.answers != "BUSY" || holder, qPrintable(error));
        QFile::remove(m_work.path("OUT"));
        const HostRun r = runHost(host, args, real ? std::function<void()>([&] { m_panel.relay(host); }) : panel, real ? 60000 : 20000);
        holder.reset();
        QVERIFY2(r.exitCode == run.exitCode, qPrintable(QString("exit %1: %2").arg(r.exitCode).arg(r.err)));
        const QRegularExpression printed(run.printed.replace("%TTY", host.slaveName()));
        QVERIFY2((run.exitCode ? r.err : r.out).contains(printed), qPrintable(r.out + r.err));
        QVERIFY2(run.exitCode ? r.err.startsWith("kvx-host: ") && r.out.isEmpty() : r.err.isEmpty(),
                 qPrintable(r.out + r.err));
        QVERIFY(r.exitCode != 3 || r.ms < 5000); // no answer: told within the deadline's reach
        QCOMPARE(nakCount, run.naks);
        QCOMPARE(m_work.exists("OUT"), run.exitCode == 0 && args.contains(m_work.path("OUT"))); // none half-written
        QCOMPARE(m_work.readFile("OUT"), m_work.exists("OUT") ? m_work.readFile("SRC") : QByteArray());
        for (const QString &f : run.files) { // !NAME: none; NAME=TEXT: holds the text; NAME: holds SRC
            const QString name = f.section('=', 0, 0).mid(f.startsWith('!') ? 1 : 0);
            const QByteArray held = m_panel.sysroot.readAppFile(name);
            const bool holds = f.contains('=') ? held.contains(f.section('=', 1).toUtf8()) : held == run.source;
            QVERIFY2(m_panel.sysroot.appExists(name) == !f.startsWith('!') && (f.startsWith('!') || holds), qPrintable(f));
        }
    }
};

QTEST_GUILESS_MAIN(tst_host_e2e)
#include "tst_host_e2e.moc"
