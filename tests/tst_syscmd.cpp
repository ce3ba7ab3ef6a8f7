// In process: the console's modes and system commands on a temporary sysroot,
// with the host at the other end of a pseudo-terminal.

#include "hdw_config.h"
#include "kvx_recovery.h"
#include "panelsession.h"
#include "usb_console.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtTest>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

class ConsoleProbe
{
public:
    static int serialFd(USB_console *c) { return c->serialFd; }
    static QSocketNotifier *notifier(USB_console *c) { return c->serialNotifier; }
    static unsigned char &sendProgress(USB_console *c) { return c->sendProgress; }
};

// Collects what the process prints on standard output (its own diagnostics
// and those of the programs it starts) while it is active. Nothing may be
// checked in between: a failure message would land in the capture.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        m_file.open();
        fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { finish(); }
    QString finish()
    {
        if (m_saved >= 0) {
            fflush(stdout);
            dup2(m_saved, STDOUT_FILENO);
            ::close(m_saved);
            m_saved = -1;
            QFile f(m_file.fileName());
            if (f.open(QIODevice::ReadOnly))
                m_text = QString::fromLocal8Bit(f.readAll());
        }
        return m_text;
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
    QString m_text;
};

// A console on an activated sysroot whose dev/ttyGS0 is the host's terminal.
struct ConsoleRig
{
    TestSysroot sysroot;
    PtyLink host;
    HDW_config *hw = nullptr;
    USB_console *console = nullptr;

    bool setUp()
    {
        sysroot.populate();
        sysroot.activate();
        if (!host.open() || !host.linkAs(sysroot.path("dev/ttyGS0")))
            return false;
        hw = new HDW_config(nullptr);
        console = new USB_console(nullptr, hw);
        return ConsoleProbe::serialFd(console) >= 0;
    }
    ~ConsoleRig()
    {
        if (console) {
            // The window would own these.
            QWidget *widgets[] = { console->messageLabel, console->statusLabel, console->progressBar };
            delete console;
            for (QWidget *w : widgets)
                delete w;
        }
        delete hw;
    }
    // Everything the host receives within ms milliseconds.
    QByteArray received(int ms = 100)
    {
        host.fill(ms);
        const QByteArray got = host.buffer();
        host.buffer().clear();
        return got;
    }
};

class tst_syscmd : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void overrunningCommandIsEnded();
    void mode_data();
    void mode();
    void cpuIdentity_data();
    void cpuIdentity();
    void sync_data();
    void sync();
    void bootClosesLinkForGood();
    void rebootButtonRunsSysrootReboot();
};

void tst_syscmd::commandLine_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("source");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("log");

    QTest::newRow("true") << QByteArray("true") << 0 << QByteArray("<UNIX:NOR>") << 0
                          << "CXM: Unix Cmd [true] -> Exit Code 0\n";
    QTest::newRow("false") << QByteArray("false") << 0 << QByteArray("<UNIX:ERR>") << 1
                           << "CXM: Unix Cmd [false] -> Exit Code 1\n";
    QTest::newRow("quotes group") << QByteArray("sh -c \"exit 3\"") << 0 << QByteArray("<UNIX:ERR>") << 3
                                  << "CXM: Unix Cmd [sh -c \"exit 3\"] -> Exit Code 3\n";
    // Through a shell this pipeline would end with false's status.
    QTest::newRow("no shell") << QByteArray("true | false") << 0 << QByteArray("<UNIX:NOR>") << 0
                              << "CXM: Unix Cmd [true | false] -> Exit Code 0\n";
    QTest::newRow("killed") << QByteArray("sh -c \"kill -KILL $$\"") << 0 << QByteArray("<UNIX:ERR>") << -1
                            << "CXM: Unix Cmd [sh -c \"kill -KILL $$\"] -> Exit Code -1\n";
    QTest::newRow("empty") << QByteArray("") << 0 << QByteArray() << -1
                           << "CXM: Unix Cmd Not Start\nCXM: Unix Cmd Not End\n";
    QTest::newRow("missing program") << QByteArray("/nonexistent/kvx-tool -x") << 0 << QByteArray() << -1
                                     << "CXM: Unix Cmd Not Start\nCXM: Unix Cmd Not End\n";
    QTest::newRow("internal caller") << QByteArray("false") << 1 << QByteArray() << 1
                                     << "CXM: Unix Cmd [false] -> Exit Code 1\n";
}

void tst_syscmd::commandLine()
{
    QFETCH(QByteArray, command);
    QFETCH(int, source);
    QFETCH(QByteArray, reply);
    QFETCH(int, result);
    QFETCH(QString, log);

    ConsoleRig rig;
    QVERIFY(rig.setUp());
    QCOMPARE(rig.console->processStartTimeout, 30000);
    QCOMPARE(rig.console->processFinishTimeout, 30000);
    rig.console->processStartTimeout = 5000;
    rig.console->processFinishTimeout = 5000;

    QByteArray text = command;
    StdoutCapture out;
    const int got = rig.console->SysCmdUnix(text.data(), source);
    const QString printed = out.finish();

    QCOMPARE(got, result);
    QCOMPARE(printed, log);
    QCOMPARE(rig.received(), reply);
}

void tst_syscmd::overrunningCommandIsEnded()
{
    ConsoleRig rig;
    QVERIFY(rig.setUp());
    rig.console->processFinishTimeout = 500;

    QByteArray command("sh -c \"echo $$ > sleeper.pid; exec sleep 40\"");
    QElapsedTimer clock;
    clock.start();
    StdoutCapture out;
    const int got = rig.console->SysCmdUnix(command.data(), 0);
    const QString printed = out.finish();

    QCOMPARE(got, -1);
    QVERIFY2(clock.elapsed() < 10000, "the finish limit was not applied");
    QVERIFY(printed.endsWith("CXM: Unix Cmd Not End\n"));
    QCOMPARE(rig.received(), QByteArray());

    const pid_t pid = rig.sysroot.readAppFile("sleeper.pid").trimmed().toInt();
    QVERIFY(pid > 0);
    errno = 0;
    QCOMPARE(::kill(pid, 0), -1);
    QCOMPARE(errno, ESRCH);
}

void tst_syscmd::mode_data()
{
    QTest::addColumn<int>("initial");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("ack");
    QTest::addColumn<int>("progress");
    QTest::addColumn<bool>("barShown");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("logged");

    QTest::newRow("2 shows progress") << 0 << 2 << true << 1 << true << "Sending..." << true;
    QTest::newRow("1 stops it") << 1 << 1 << true << 0 << false << "" << true;
    QTest::newRow("0 keeps it") << 1 << 0 << true << 1 << false << "" << false;
    QTest::newRow("invalid keeps it") << 1 << -1 << true << 1 << false << "" << false;
    QTest::newRow("project list, silent") << 1 << 1 << false << 0 << false << "" << true;
}

void tst_syscmd::mode()
{
    QFETCH(int, initial);
    QFETCH(int, mode);
    QFETCH(bool, ack);
    QFETCH(int, progress);
    QFETCH(bool, barShown);
    QFETCH(QString, message);
    QFETCH(bool, logged);

    ConsoleRig rig;
    QVERIFY(rig.setUp());
    ConsoleProbe::sendProgress(rig.console) = static_cast<unsigned char>(initial);

    StdoutCapture out;
    rig.console->changeMode(mode, ack);
    const QString printed = out.finish();

    QCOMPARE(rig.received(), ack ? QByteArray("<MODE_ACK>") : QByteArray());
    QCOMPARE(int(ConsoleProbe::sendProgress(rig.console)), progress);
    QCOMPARE(printed.contains("CXM: Stop service\n"), logged);
    QCOMPARE(rig.console->messageLabel->text(), message);
    QCOMPARE(!rig.console->progressBar->isHidden(), barShown);
    if (barShown) {
        QCOMPARE(rig.console->progressBar->value(), 0);
        QCOMPARE(rig.console->progressBar->maximum(), 100);
    }
}

void tst_syscmd::cpuIdentity_data()
{
    QTest::addColumn<QByteArray>("cfg0"); // a null array: no such file
    QTest::addColumn<QByteArray>("cfg1");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("log");

    QTest::newRow("0x0 and 0x1f") << QByteArray("0x0\n") << QByteArray("0x1f\n")
                                  << QByteArray("<CPUI:000000000000001f>") << "CFG0:00000000\nCFG1:0000001f\n";
    QTest::newRow("eight digits") << QByteArray("0x12345678\n") << QByteArray("0x9abcdef0\n")
                                  << QByteArray("<CPUI:123456789abcdef0>") << "CFG0:12345678\nCFG1:9abcdef0\n";
    QTest::newRow("no newline") << QByteArray("0xABCDEF01") << QByteArray("0x1")
                                << QByteArray("<CPUI:ABCDEF0100000001>") << "CFG0:ABCDEF01\nCFG1:00000001\n";
    QTest::newRow("blanks skipped") << QByteArray("0x 1 f\n") << QByteArray("0x5 \n")
                                    << QByteArray("<CPUI:0000001f00000005>") << "CFG0:0000001f\nCFG1:00000005\n";
    QTest::newRow("prefix only") << QByteArray("0x") << QByteArray("0x7\n")
                                 << QByteArray("<CPUI:0000000000000007>") << "CFG0:00000000\nCFG1:00000007\n";
    QTest::newRow("longer than read") << QByteArray("0x123456789A\n") << QByteArray("0x2\n")
                                      << QByteArray("<CPUI:1234567800000002>") << "CFG0:12345678\nCFG1:00000002\n";
    QTest::newRow("CFG1 missing") << QByteArray("0x1\n") << QByteArray() << QByteArray()
                                  << "CFG0:00000001\nZQL:Open CFG1 error\nCXM: OTP Rd Err !!!\n";
    QTest::newRow("CFG0 empty") << QByteArray("") << QByteArray("0x1\n") << QByteArray()
                                << "ZQL:Read CFG0 error\nCFG1:00000001\nCXM: OTP Rd Err !!!\n";
    QTest::newRow("both missing") << QByteArray() << QByteArray() << QByteArray()
                                  << "ZQL:Open CFG0 error\nZQL:Open CFG1 error\nCXM: OTP Rd Err !!!\n";
}

void tst_syscmd::cpuIdentity()
{
    QFETCH(QByteArray, cfg0);
    QFETCH(QByteArray, cfg1);
    QFETCH(QByteArray, reply);
    QFETCH(QString, log);

    ConsoleRig rig;
    QVERIFY(rig.setUp());
    const QByteArray texts[] = { cfg0, cfg1 };
    const char *files[] = { "sys/fsl_otp/HW_OCOTP_CFG0", "sys/fsl_otp/HW_OCOTP_CFG1" };
    for (int i = 0; i < 2; ++i) {
        if (texts[i].isNull())
            QVERIFY(QFile::remove(rig.sysroot.path(files[i])));
        else
            rig.sysroot.writeFile(files[i], texts[i]);
    }

    StdoutCapture out;
    rig.console->ReportCPUID();
    const QString printed = out.finish();

    QCOMPARE(printed, log);
    QCOMPARE(rig.received(), reply);
}

void tst_syscmd::sync_data()
{
    QTest::addColumn<QByteArray>("script"); // empty: no sync on the search path
    QTest::addColumn<int>("finishMs");
    QTest::addColumn<bool>("reply");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("log");

    const QByteArray quick("#!/bin/sh\necho ran >> \"$(dirname \"$0\")/../sync.log\"\n");
    QTest::newRow("done") << quick << 5000 << true << QByteArray("<SYNC:NOR>") << "CMX: Sync OK\n";
    QTest::newRow("done, not asked") << quick << 5000 << false << QByteArray() << "CMX: Sync OK\n";
    QTest::newRow("cannot start") << QByteArray() << 5000 << true << QByteArray("<SYNC:ERR><SYNC:ERR>")
                                  << "CMX: Sync Not Start\nNot End\n";
    QTest::newRow("does not end") << QByteArray("#!/bin/sh\nexec sleep 20\n") << 300 << true
                                  << QByteArray("<SYNC:ERR>") << "CMX: Sync Not End\n";
}

void tst_syscmd::sync()
{
    QFETCH(QByteArray, script);
    QFETCH(int, finishMs);
    QFETCH(bool, reply);
    QFETCH(QByteArray, answer);
    QFETCH(QString, log);

    ConsoleRig rig;
    QVERIFY(rig.setUp());
    rig.console->processFinishTimeout = finishMs;

    const QByteArray oldPath = qgetenv("PATH");
    if (script.isEmpty()) {
        // Only the sysroot's programs, and it has no sync.
        qputenv("PATH", QFile::encodeName(rig.sysroot.path("sbin")));
    } else {
        rig.sysroot.writeFile("bin/sync", script);
        QFile::setPermissions(rig.sysroot.path("bin/sync"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(QStandardPaths::findExecutable("sync").startsWith(rig.sysroot.root()));
    }

    StdoutCapture out;
    rig.console->SysCmdSysn(reply);
    const QString printed = out.finish();
    qputenv("PATH", oldPath);

    QCOMPARE(printed, log);
    QCOMPARE(rig.received(), answer);
    if (log.endsWith("OK\n"))
        QCOMPARE(rig.sysroot.readFile("sync.log"), QByteArray("ran\n"));
}

static double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void tst_syscmd::bootClosesLinkForGood()
{
    ConsoleRig rig;
    QVERIFY(rig.setUp());
    const int oldFd = ConsoleProbe::serialFd(rig.console);
    QSignalSpy exits(rig.console, SIGNAL(RequestExit()));

    rig.console->SysCmdReboot();

    QCOMPARE(rig.received(), QByteArray("<BOOT:NOR>"));
    QCOMPARE(exits.count(), 1);
    QCOMPARE(ConsoleProbe::serialFd(rig.console), -1);
    QVERIFY(!ConsoleProbe::notifier(rig.console));

    // The descriptor number goes to an unrelated file: later replies must
    // not land in it.
    QTemporaryFile other;
    QVERIFY(other.open());
    const bool reused = other.handle() == oldFd;
    if (!reused)
        QCOMPARE(dup2(other.handle(), oldFd), oldFd);
    rig.console->changeMode(0, true);
    rig.console->WriteChar('\r');
    QByteArray missing("no-such-file");
    rig.console->TxFileStart(missing.data());
    QCOMPARE(QFileInfo(other.fileName()).size(), 0);
    if (!reused)
        ::close(oldFd);

    // Host input no longer wakes the console, and the loop stays idle.
    rig.host.write("#HWCF#");
    const double before = cpuSeconds();
    QTest::qWait(300);
    const double spent = cpuSeconds() - before;
    QVERIFY2(spent < 0.15, qPrintable(QString("event loop used %1 s of CPU").arg(spent)));
    QCOMPARE(rig.received(), QByteArray());
}

void tst_syscmd::rebootButtonRunsSysrootReboot()
{
    TestSysroot sysroot;
    sysroot.populate();
    sysroot.activate();
    PtyLink host;
    QVERIFY(host.open());
    QVERIFY(host.linkAs(sysroot.path("dev/ttyGS0")));

    kvx_recovery window;
    window.show();
    QPushButton *button = window.console->rebootButton;
    QVERIFY(button);
    QVERIFY(!button->isEnabled());

    host.write("#SVCF#");
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 3000);

    // Only the sysroot's fake may ever be reached.
    QVERIFY(QStandardPaths::findExecutable("reboot").startsWith(sysroot.root() + "/"));
    QCOMPARE(sysroot.rebootCount(), 0);

    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(window.console->statusLabel->text(), QString("Reboot now..."), 3000);
    QVERIFY2(clock.elapsed() >= 450, "the reboot step ran before its delay");
    QTRY_COMPARE_WITH_TIMEOUT(sysroot.rebootCount(), 1, 5000);
}

QTEST_MAIN(tst_syscmd)
#include "tst_syscmd.moc"
