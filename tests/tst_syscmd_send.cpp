// In process: the console's system commands, its file sender and the window, the host on a pseudo-terminal.

#include "console_on_link.h"
#include "kvx_recovery.h"
#include "stdoutcapture.h"
#include "transfer.h"
#include "xmodem.h"

#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <unistd.h>

// kind U: the command line `text`; S: sync, `text` the sync script; F: CPU identity from fuse texts
// "CFG0|CFG1" (no CFG1 without '|'); `asked`: by the host, who gets a reply.
struct RunCase { char kind; QByteArray text; bool asked; int finishMs; QByteArray reply; int result; QString log; };
// A download: the size announced, the file's size once announced, the MODEs before, progress shown.
struct SendCase { int size, actual; QByteArray modes; bool progress; };
Q_DECLARE_METATYPE(RunCase)
Q_DECLARE_METATYPE(SendCase)

class tst_syscmd_send : public QObject
{
    Q_OBJECT

    std::unique_ptr<ConsoleOnLink> f; // fresh for every test and row
    USB_console *c = nullptr;

private slots:
    void init()
    {
        f.reset(new ConsoleOnLink);
        QVERIFY(f->start());
        f->link.eventLoop = true; // the console lives in this process
        c = f->console;
    }

    void run_data()
    {
        QTest::addColumn<RunCase>("t");
        const QByteArray quick("#!/bin/sh\necho ran >> \"$(dirname \"$0\")/../sync.log\"\n");
        QTest::newRow("internal caller") << RunCase { 'U', "false", false, 30000, {}, 1, "CXM: Unix Cmd [%1] -> Exit Code 1" };
        QTest::newRow("outlives the limit") << RunCase { 'U', "sh -c \"echo $$ > sleeper.pid; exec sleep 40\"", true, 500, {}, -1, "CXM: Unix Cmd [%1]CXM: Unix Cmd Not End" };
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
            f->sysroot.writeFile("sys/fsl_otp/HW_OCOTP_CFG0", fuses[0]);
            f->sysroot.writeFile("sys/fsl_otp/HW_OCOTP_CFG1", fuses.value(1));
            QVERIFY(fuses.size() == 2 || QFile::remove(f->sysroot.path("sys/fsl_otp/HW_OCOTP_CFG1")));
        } else if (t.kind == 'S') {
            f->sysroot.writeFile("bin/sync", t.text);
            QFile::setPermissions(f->sysroot.path("bin/sync"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QVERIFY(QStandardPaths::findExecutable("sync").startsWith(f->sysroot.root()));
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
        QCOMPARE(f->link.readFor(100), t.reply);
        QVERIFY2(!limit.hasExpired(), "the finish limit was not applied");
        QCOMPARE(f->sysroot.readFile("sync.log"), QByteArray(t.log.endsWith("Sync OK") ? "ran\n" : ""));
        if (t.kind == 'U' && t.finishMs < 30000) { // the overrunning command was ended
            const pid_t pid = f->sysroot.readAppFile("sleeper.pid").trimmed().toInt();
            QVERIFY(pid > 0 && ::kill(pid, 0) == -1 && errno == ESRCH);
        }
    }

    void bootClosesLinkForGood()
    {
        const int oldFd = ConsoleProbe::serialFd(*c);
        c->SysCmdReboot();
        QCOMPARE(f->link.readFor(100), QByteArray("<BOOT:NOR>"));
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

    // The window right after start, and a Reboot button that reaches the
    // installer only once the host has saved.
    void windowAndRebootButton()
    {
        f->panel.reset(); // the window's console is then the only one on the terminal
        f->sysroot.writeAppFile("version.txt", "FMW<4.1.0.7>\n");
        // Only the sysroot's fake may ever be reached.
        QVERIFY(QStandardPaths::findExecutable("reboot").startsWith(f->sysroot.root() + "/") && f->sysroot.rebootCount() == 0);
        kvx_recovery window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QList<QLabel *> labels = window.findChildren<QLabel *>();
        for (const QString text : { "MVK 200", "0214000510000001", "4.1.0.7", "Step 3: Press reboot button." })
            QVERIFY2(std::any_of(labels.begin(), labels.end(), [&](const QLabel *label) { return label->text() == text; }), qPrintable(text));
        c = window.console;
        QVERIFY(c->statusLabel->isVisible() && !c->progressBar->isVisible() && !c->rebootButton->isEnabled());
        c->rebootButton->setEnabled(true); // even a programmatic click reaches nothing until the host saves
        c->rebootButton->click();
        QVERIFY(!ConsoleProbe::upgradeTimer(*c)->isActive() && c->statusLabel->text().isEmpty());
        c->rebootButton->setEnabled(false);
        f->link.write("#SVCF#");
        QTRY_VERIFY_WITH_TIMEOUT(c->rebootButton->isEnabled(), 3000);
        const QDeadlineTimer early(450);
        QTest::mouseClick(c->rebootButton, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(c->statusLabel->text(), QString("Reboot now..."), 3000);
        QVERIFY2(early.hasExpired(), "the reboot step ran before its delay");
        QTRY_COMPARE_WITH_TIMEOUT(f->sysroot.rebootCount(), 1, 5000);
    }

    // A download as a host receives it: the packets read the file as it is
    // when each one goes, within the size announced.
    void send_data()
    {
        QTest::addColumn<SendCase>("t");
        QTest::newRow("empty") << SendCase { 0, 0, "2", true };
        QTest::newRow("1024, MODE 1 stops progress") << SendCase { 1024, 1024, "21", false };
        // What the file still holds, then padding.
        QTest::newRow("shrunk, MODE 3 keeps progress") << SendCase { 3000, 1500, "23", true };
        QTest::newRow("grew") << SendCase { 3000, 5000, "", false };
    }
    void send()
    {
        QFETCH(SendCase, t);
        const QByteArray content = randomBytes(7, qMax(t.size, t.actual));
        f->sysroot.writeAppFile("out.bin", content.left(t.size));
        QByteArray reply, got;
        for (char mode : t.modes)
            QCOMPARE(f->link.host().exchange("#MODE<" + QByteArray(1, mode) + ">#", QDeadlineTimer(5000), &reply), hostlink::Link::Ok);
        StdoutCapture out;
        QCOMPARE(f->link.host().exchange("#GETF<out.bin>#", QDeadlineTimer(5000), &reply), hostlink::Link::Ok);
        QCOMPARE(reply, "<GETF:" + QByteArray::number(t.size) + ">");
        QCOMPARE(c->messageLabel->text(), QString(t.modes.contains('2') ? "Sending..." : ""));
        QCOMPARE(!c->progressBar->isHidden(), t.modes.contains('2'));
        f->sysroot.writeAppFile("out.bin", content.left(t.actual));
        QBuffer sink(&got);
        QVERIFY(sink.open(QIODevice::WriteOnly));
        QCOMPARE(hostlink::receiveFile(f->link.host(), sink, t.size, {}).kind, hostlink::TransferOutcome::Done);
        QCOMPARE(got, content.left(qMin(t.size, t.actual)) + QByteArray(qMax(0, t.size - t.actual), char(xmodem::SUB)));
        QVERIFY(t.progress ? c->progressBar->maximum() == t.size && c->progressBar->value() == t.size : c->progressBar->value() <= 0);
        QVERIFY(ConsoleProbe::consoleState(*c) == 0 && !ConsoleProbe::txFile(*c) && !ConsoleProbe::txTimer(*c)->isActive());
        const QString packets = QString("CXM: %1 Packet + %2bytes").arg(t.size / 1024 + 1).arg(t.size % 1024), bar = QString("CXM: Progress Bar %1").arg(t.size);
        QCOMPARE(out.lines(), QStringList({ "CXM: GETF:out.bin", packets }) + (t.progress ? QStringList(bar) : QStringList())
                                  + QStringList({ "CXM: Start Tx", QString(t.size / 1024 + 1, '.'), "CXM: End Tx" }));
    }

    void uploadInsideDelayKeepsItsFile()
    {
        f->sysroot.makeAppDir("tmp");
        f->sysroot.writeAppFile("f.bin", "0123456789");
        c->TxFileStart(QByteArray("f.bin").data());
        // The upload takes the handle over, closing the announced file; the send finds nothing to arm.
        f->link.write("#LOAD<up.txt>12#");
        QTRY_COMPARE(ConsoleProbe::rxMode(*c), 1);
        FILE *upload = ConsoleProbe::txFile(*c);
        QTRY_VERIFY(!ConsoleProbe::txDelayTimer(*c)->isActive());
        QVERIFY(upload && ConsoleProbe::consoleState(*c) != 2 && !ConsoleProbe::txTimer(*c)->isActive() && ConsoleProbe::txFile(*c) == upload);
    }
};

QTEST_MAIN(tst_syscmd_send)
#include "tst_syscmd_send.moc"
