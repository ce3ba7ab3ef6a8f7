// In process: the console's system commands and file sender, the host on a pseudo-terminal.

#include "console_probe.h"
#include "xmodem.h"
#include "panelsession.h"
#include "stdoutcapture.h"

#include <QtTest>
#include <QPushButton>
#include <csignal>
#include <unistd.h>

// kind U: the command line `text`; S: sync, `text` the sync script; F: CPU identity from fuse texts
// "CFG0|CFG1" (no CFG1 without '|'); `asked`: by the host, who gets a reply.
struct RunCase { char kind; QByteArray text; bool asked; int finishMs; QByteArray reply; int result; QString log; };
// Size announced (-1: none, -2: a directory) and when read, packets announced (0: refused), MODEs first,
// the host's bytes (A ACK, N NAK, X CAN, *: 'C' and an ACK per packet), the answer to each (packet
// number, E: EOT, -: none, *: all then E), progress shown, a piece of the log.
struct SendCase { int size, actual, total; QByteArray modes, host, sent; bool progress; QString log; };
Q_DECLARE_METATYPE(RunCase)
Q_DECLARE_METATYPE(SendCase)

class tst_syscmd_send : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSysroot> sysroot;
    PtyLink host;
    std::unique_ptr<PanelConsole> panel;
    USB_console *c = nullptr;

    // What the console has sent once n bytes came (within 3 s), or within 100 ms.
    QByteArray take(int n = 0)
    {
        QDeadlineTimer deadline(3000);
        for (host.fill(100); host.buffer().size() < n && !deadline.hasExpired();)
            host.fill(20);
        return std::exchange(host.buffer(), QByteArray());
    }

private slots:
    void init()
    {
        panel.reset();
        sysroot.reset(new TestSysroot);
        sysroot->activate();
        QVERIFY(host.open() && host.linkAs(sysroot->path("dev/ttyGS0")));
        c = &(panel = std::make_unique<PanelConsole>())->console;
    }

    void run_data()
    {
        QTest::addColumn<RunCase>("t");
        const QByteArray nor("<UNIX:NOR>"), err("<UNIX:ERR>"), quick("#!/bin/sh\necho ran >> \"$(dirname \"$0\")/../sync.log\"\n");
        const QString ran = "CXM: Unix Cmd [%1] -> Exit Code ", notRun = "CXM: Unix Cmd Not Start\nCXM: Unix Cmd Not End";
        QTest::newRow("internal caller") << RunCase { 'U', "false", false, 30000, {}, 1, ran + "1" };
        // Through a shell this pipeline would end with false's status. Double quotes group words.
        QTest::newRow("no shell") << RunCase { 'U', "true | false", true, 30000, nor, 0, ran + "0" };
        QTest::newRow("killed") << RunCase { 'U', "sh -c \"kill -KILL $$\"", true, 30000, err, -1, ran + "-1" };
        QTest::newRow("empty") << RunCase { 'U', "", true, 30000, {}, -1, notRun };
        QTest::newRow("missing program") << RunCase { 'U', "/nonexistent/kvx-tool -x", true, 30000, {}, -1, notRun };
        QTest::newRow("outlives the limit") << RunCase { 'U', "sh -c \"echo $$ > sleeper.pid; exec sleep 40\"", true, 500, {}, -1,
                                                         "CXM: Unix Cmd [%1]CXM: Unix Cmd Not End" };
        QTest::newRow("sync") << RunCase { 'S', quick, true, 30000, "<SYNC:NOR>", 0, "CMX: Sync OK" };
        QTest::newRow("sync cannot start") << RunCase { 'S', "#!/nonexistent/sh\n", true, 30000, "<SYNC:ERR><SYNC:ERR>", 0, "CMX: Sync Not Start\nNot End" };
        QTest::newRow("sync does not end") << RunCase { 'S', "#!/bin/sh\nexec sleep 20\n", true, 300, "<SYNC:ERR>", 0, "CMX: Sync Not End" };
        QTest::newRow("CPUI blanks, prefix only") << RunCase { 'F', "0x 1 f\n|0x", true, 30000, "<CPUI:0000001f00000000>", 0, "CFG0:0000001f\nCFG1:00000000" };
        QTest::newRow("CPUI longer than read") << RunCase { 'F', "0x123456789A\n|0x2\n", true, 30000, "<CPUI:1234567800000002>", 0, "CFG0:12345678\nCFG1:00000002" };
        QTest::newRow("CPUI CFG1 missing") << RunCase { 'F', "0x1\n", true, 30000, {}, 0, "CFG0:00000001\nZQL:Open CFG1 error\nCXM: OTP Rd Err !!!" };
        QTest::newRow("CPUI CFG0 empty") << RunCase { 'F', "|0x1\n", true, 30000, {}, 0, "ZQL:Read CFG0 error\nCFG1:00000001\nCXM: OTP Rd Err !!!" };
    }
    void run()
    {
        QFETCH(RunCase, t);
        c->processFinishTimeout = t.finishMs;
        const QList<QByteArray> fuses = t.text.split('|');
        if (t.kind == 'F') {
            sysroot->writeFile("sys/fsl_otp/HW_OCOTP_CFG0", fuses[0]);
            sysroot->writeFile("sys/fsl_otp/HW_OCOTP_CFG1", fuses.value(1));
            QVERIFY(fuses.size() == 2 || QFile::remove(sysroot->path("sys/fsl_otp/HW_OCOTP_CFG1")));
        } else if (t.kind == 'S') {
            sysroot->writeFile("bin/sync", t.text);
            QFile::setPermissions(sysroot->path("bin/sync"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QVERIFY(QStandardPaths::findExecutable("sync").startsWith(sysroot->root()));
        }
        const QDeadlineTimer limit(10000);
        int got = 0;
        const QStringList log = printedLines([&] {
            if (t.kind == 'F')
                c->ReportCPUID();
            else if (t.kind == 'S')
                c->SysCmdSysn(t.asked);
            else
                got = c->SysCmdUnix(t.text.data(), t.asked ? 0 : 1);
        });
        QCOMPARE(log, t.log.replace("%1", QString(t.text)).split('\n'));
        QCOMPARE(got, t.result);
        QCOMPARE(take(), t.reply);
        QVERIFY2(!limit.hasExpired(), "the finish limit was not applied");
        QCOMPARE(sysroot->readFile("sync.log"), QByteArray(t.log.endsWith("Sync OK") ? "ran\n" : ""));
        if (t.kind == 'U' && t.finishMs < 30000) { // the overrunning command was ended
            const pid_t pid = sysroot->readAppFile("sleeper.pid").trimmed().toInt();
            QVERIFY(pid > 0 && ::kill(pid, 0) == -1 && errno == ESRCH);
        }
    }

    void bootClosesLinkForGood()
    {
        const int oldFd = ConsoleProbe::serialFd(*c);
        c->SysCmdReboot();
        QCOMPARE(take(), QByteArray("<BOOT:NOR>"));
        QVERIFY(ConsoleProbe::serialFd(*c) == -1 && !ConsoleProbe::serialNotifier(*c));
        // The descriptor number goes to an unrelated file: later replies must not land in it.
        QTemporaryFile other;
        QVERIFY(other.open());
        QCOMPARE(dup2(other.handle(), oldFd), oldFd);
        c->changeMode(0, true);
        c->WriteChar('\r');
        c->TxFileStart(QByteArray("no-such-file").data());
        QCOMPARE(QFileInfo(other.fileName()).size(), 0);
        if (other.handle() != oldFd)
            ::close(oldFd);
    }

    void rebootButton()
    {
        QPushButton button;
        button.setEnabled(false);
        c->rebootButton = &button;
        host.write("#SVCF#");
        QTRY_VERIFY_WITH_TIMEOUT(button.isEnabled(), 3000);
        // Only the sysroot's fake may ever be reached.
        QVERIFY(QStandardPaths::findExecutable("reboot").startsWith(sysroot->root() + "/") && sysroot->rebootCount() == 0);
        const QDeadlineTimer early(450);
        QTest::mouseClick(&button, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(c->statusLabel->text(), QString("Reboot now..."), 3000);
        QVERIFY2(early.hasExpired(), "the reboot step ran before its delay");
        QTRY_COMPARE_WITH_TIMEOUT(sysroot->rebootCount(), 1, 5000);
    }

    void send_data()
    {
        QTest::addColumn<SendCase>("t");
        const QString done = "\nCXM: End Tx\n";
        QTest::newRow("directory") << SendCase { -2, 0, 0, "", "", "", false, "CXM: File Open Error" };
        QTest::newRow("empty") << SendCase { 0, 0, 1, "2", "*", "*", true, done };
        QTest::newRow("1024, MODE 1 stops progress") << SendCase { 1024, 1024, 2, "21", "*", "*", false, done };
        // What the file still holds within the announced size, then padding.
        QTest::newRow("shrunk, MODE 3 keeps progress") << SendCase { 3000, 1500, 3, "23", "*", "*", true, done };
        QTest::newRow("grew") << SendCase { 3000, 5000, 3, "", "*", "*", false, done };
        // Before the host's 'C' nothing else counts.
        QTest::newRow("NAK before C") << SendCase { 3000, 3000, 3, "2", "NC", "- 1", true, "CXM: Start Tx" };
        QTest::newRow("no C in time") << SendCase { 3000, 3000, 3, "", "", "", false, "CXM: TX File Timeout" };
        QTest::newRow("second C") << SendCase { 3000, 3000, 3, "", "CCA", "1 - 2", false, "CXM:Unknown C" };
    }
    void send()
    {
        QFETCH(SendCase, t);
        QByteArray content;
        for (int i = 0; i < qMax(t.size, t.actual); ++i)
            content += char(i * 131 + i / 977);
        if (t.size != -1)
            t.size == -2 ? sysroot->makeAppDir("out.bin") : sysroot->writeAppFile("out.bin", content.left(t.size));
        for (char mode : t.modes)
            c->changeMode(mode - '0', true);
        const QString count = t.total ? QString("CXM: %1 Packet + %2bytes").arg(t.total).arg(t.size % 1024) : t.log;
        QCOMPARE(printedLines([&] { c->TxFileStart(QByteArray("out.bin").data()); }).mid(0, 2), QStringList({ "CXM: GETF:out.bin", count }));
        QCOMPARE(take(), QByteArray("<MODE_ACK>").repeated(t.modes.size()) + "<GETF:" + QByteArray::number(t.total ? t.size : -1) + ">");
        QCOMPARE(c->messageLabel->text(), QString(t.modes.contains('2') ? "Sending..." : ""));
        QCOMPARE(!c->progressBar->isHidden(), t.modes.contains('2'));
        QVERIFY(bool(ConsoleProbe::txFile(*c)) == (t.total > 0) && ConsoleProbe::txDelayTimer(*c)->isActive() == (t.total > 0));
        if (!t.total)
            return;
        sysroot->writeAppFile("out.bin", content.left(t.actual));
        c->TxDelayStart();
        QVERIFY(ConsoleProbe::txTimer(*c)->isActive() && !ConsoleProbe::txDelayTimer(*c)->isActive() && ConsoleProbe::consoleState(*c) == 2);

        const QByteArray bytes = t.host == "*" ? "C" + QByteArray(t.total, 'A') : t.host, data = content.left(qMin(t.size, t.actual));
        QStringList sent;
        for (int i = 1; t.sent == "*" && i <= t.total; ++i)
            sent << QString::number(i);
        sent << QString(t.sent == "*" ? "E" : t.sent).split(' ', Qt::SkipEmptyParts);
        int furthest = 0, packets = 0;
        StdoutCapture out;
        for (int i = 0; i < bytes.size(); ++i) {
            const char b = bytes[i];
            c->TxFile_handshake(b == 'A' ? char(xmodem::ACK) : b == 'N' ? char(xmodem::NAK) : b == 'X' ? char(xmodem::CAN) : b);
            const int p = sent.value(i).toInt();
            const QByteArray expected = sent.value(i) == "E" ? QByteArray(1, char(xmodem::EOT)) : p ? xmodemPacket(p, data.mid((p - 1) * 1024, 1024)) : "";
            QVERIFY2(take(expected.size()) == expected, qPrintable(QString("the answer to byte %1 is not %2").arg(i).arg(sent.value(i))));
            furthest = qMax(furthest, p);
            packets += p > 0;
        }
        if (bytes.isEmpty()) {
            ConsoleProbe::txTimer(*c)->setInterval(50); // the host's five seconds of silence, shortened
            QTRY_COMPARE_WITH_TIMEOUT(ConsoleProbe::consoleState(*c), 0, 3000);
        }
        QCOMPARE(take(), QByteArray());
        const QString log = out.lines().join('\n') + '\n';
        QVERIFY2(log.contains(t.log) && log.count('.') == packets, qPrintable(log));
        QVERIFY(t.progress ? c->progressBar->maximum() == t.size && c->progressBar->value() == qMin(furthest * 1024, t.size)
                           : c->progressBar->value() <= 0);
        const bool ends = sent.endsWith("E") || bytes.endsWith('X') || bytes.isEmpty();
        QCOMPARE(ConsoleProbe::consoleState(*c) == 0 && !ConsoleProbe::txStarted(*c) && !ConsoleProbe::txFile(*c) && !ConsoleProbe::txTimer(*c)->isActive(), ends);
    }

    void uploadInsideDelayKeepsItsFile()
    {
        sysroot->makeAppDir("tmp");
        sysroot->writeAppFile("f.bin", "0123456789");
        c->TxFileStart(QByteArray("f.bin").data());
        // The upload takes the handle over, closing the announced file; the send finds nothing to arm.
        host.write("#LOAD<up.txt>12#");
        QTRY_COMPARE(ConsoleProbe::rxMode(*c), 1);
        FILE *upload = ConsoleProbe::txFile(*c);
        QTRY_VERIFY(!ConsoleProbe::txDelayTimer(*c)->isActive());
        QVERIFY(upload && ConsoleProbe::consoleState(*c) != 2 && !ConsoleProbe::txTimer(*c)->isActive() && ConsoleProbe::txFile(*c) == upload);
    }
};

QTEST_MAIN(tst_syscmd_send)
#include "tst_syscmd_send.moc"
