// In process: the XMODEM receiver and the end of a reception, driven by a host-side sender on the
// console's pseudo-terminal; then the installer's steps 2 to 5 on real packages whose scripts leave
// marker files, the test firing the upgrade timer as soon as a step arms it, noting the state and
// delay given.

#include "console_on_link.h"
#include "sample_sysroot.h"
#include "stdoutcapture.h"
#include "transfer.h"
#include "xmodem.h"

#include <QtTest>
#include <climits>
#include <csignal>

// The status once the reception has ended, -1 while it runs.
static int ended(USB_console &c) { return ConsoleProbe::rxMode(c) == 0 ? ConsoleProbe::xmodemStatus(c) : -1; }

struct Rx {
    QByteArray data; // sent as packets, or as it is when `how` is "raw"
    int size;        // announced
    QString how;     // "raw", or "burst" (all in one write)
    QList<int> spoilt; // bytes spoilt in packets 2.. at their first `tries` tries
    int tries;
    QByteArray replies; // A for ACK, N for NAK, X for CAN, after the first 'C' unless raw
    int status, kept;   // kept: bytes of data in the file
    QString log;
    QByteArray name = "data.bin", hash = {};
    bool runtime = false;
    QString path = "tmp/data.bin"; // none: no tmp directory
};
Q_DECLARE_METATYPE(Rx)

static QByteArray letters(QByteArray replies)
{
    return replies.replace(char(xmodem::ACK), 'A').replace(char(xmodem::NAK), 'N').replace(char(xmodem::CAN), 'X');
}

class tst_xmodem_rx : public QObject, ConsoleOnLink
{
    Q_OBJECT
    QString realTar;

    // The host: the link library's sender, once the console asked for the first packet. Its tap spoils packets
    // 2.. at their first tries, and notes each transmission's answer once the next one shows it (a resend: NAK);
    // the last one's, the outcome tells. The answers as letters, A for ACK, N for NAK, X for CAN; a last packet
    // that went out padded with anything but SUB adds a "?" (the panel cuts the padding off, so only the wire shows it).
    QByteArray send(const Rx &rx)
    {
        hostlink::Link &host = link.host();
        const auto untap = qScopeGuard([&] { host.setTap({}); });
        QByteArray replies, bytes = rx.data, last;
        int seen = 0;
        host.setTap([&](const hostlink::Outgoing &what, QByteArray &out, hostlink::Tampering &) {
            const bool packet = what.kind == hostlink::Outgoing::Packet;
            last = packet ? out : last;
            for (int at : packet && what.packet > 1 && what.attempt < rx.tries ? rx.spoilt : QList<int>())
                out[at] = static_cast<char>(out[at] ^ 0x0B);
            if (packet || out == QByteArray(1, char(xmodem::EOT)))
                replies += seen++ == 0 ? "" : packet && what.attempt > 0 ? "N" : "A";
        });
        host.buffer().remove(0, host.waitFor(QByteArray(1, char(xmodem::CRC_REQUEST)), QDeadlineTimer(3000)) + 1);
        QBuffer source(&bytes);
        source.open(QIODevice::ReadOnly);
        const auto outcome = hostlink::sendFile(host, source, bytes.size(), hostlink::TransferTiming{ 3000, 5000 }).kind;
        const int tail = bytes.size() % xmodem::DataSize, padding = tail ? xmodem::DataSize - tail : 0;
        const bool done = outcome == hostlink::TransferOutcome::Done;
        replies += !done || last.mid(3 + tail, padding) == QByteArray(padding, char(xmodem::SUB)) ? "" : "?";
        return replies + (done ? "A" : outcome == hostlink::TransferOutcome::Cancelled ? "X" : "?");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(start());
        link.eventLoop = true; // the console lives in this process
        QVERIFY(!(realTar = QStandardPaths::findExecutable("tar")).isEmpty());
        // The packets below are sealed with the product's own CRC: it must be CRC-16/XMODEM (check value 0x31C3).
        QCOMPARE(xmodem::crc16(reinterpret_cast<const unsigned char *>("123456789"), 9), 0x31C3u);
    }
    void init()
    {
        QVERIFY(ended(*console) >= 0);
        sysroot.makeAppDir("tmp");
        link.buffer().clear();
    }

    void reception_data()
    {
        QTest::addColumn<Rx>("rx");
        const QByteArray d = randomBytes(1, 3000), pkg = randomBytes(11, 5000),
                         md5 = QCryptographicHash::hash(pkg, QCryptographicHash::Md5).toHex();
        const QByteArray can(1, char(xmodem::CAN)), soh = QByteArray("\x01\x01\xFE", 3) + QByteArray(130, 'x');
        const char *cancelled = "CXM: Cancel Rx", *rtldErr = "C<RTLD:ERR>";
        QTest::newRow("LOAD unnamed, cancelled") << Rx{ can, 9, "raw", {}, 0, "C", RxCancelled, 0, cancelled, "", {}, false, "tmp/tmp.txt" };
        QTest::newRow("RTLD named, cancelled") << Rx{ can, 9, "raw", {}, 0, rtldErr, RxCancelled, 0, cancelled, "pkg.tgz", {}, true, "pkg.tgz" };
        // A 'C' answers the refused start, the next byte is dropped, the rest is console input (echoed).
        QTest::newRow("SOH refused") << Rx{ soh, 9, "raw", {}, 0, "CC" + soh.mid(2), RxReadFailed, 0, "CXM: Unexpected Char \x01-0x01" };
        QTest::newRow("target not openable") << Rx{ {}, 9, "raw", {}, 0, "", RxCannotOpen, 0, "CXM: Can't Open File", "x.bin", {}, false, "" };
        // The bytes after a packet wait for the next one.
        QTest::newRow("2048 in one burst") << Rx{ randomBytes(2, 2048), 2048, "burst", {}, 0, "CAAA", RxComplete, 2048, "CXM: ACK EOT" };
        QTest::newRow("EOT bytes are data") << Rx{ QByteArray(1024, char(xmodem::EOT)), 1024, "", {}, 0, "AA", RxComplete, 1024, "CXM: ACK EOT" };
        QTest::newRow("surplus packet adds nothing") << Rx{ d, 1500, "", {}, 0, "AAAA", RxComplete, 1500, "CXM: Last Pk Byte: 476" };
        QTest::newRow("bad complement") << Rx{ d, 3000, "", { 2 }, 1, "ANANAA", RxComplete, 3000, "CXM: Packet Num. Err" };
        // The same change to block number and complement keeps the complement valid.
        QTest::newRow("wrong sequence") << Rx{ d, 3000, "", { 1, 2 }, 1, "ANANAA", RxComplete, 3000, "CXM: Packet Seq. Err 9 2" };
        QTest::newRow("three NAKs, then good") << Rx{ d, 3000, "", { 1028 }, 3, "ANNNANNNAA", RxComplete, 3000, "CXM: CRC Err : " };
        QTest::newRow("fourth rejection cancels") << Rx{ d, 3000, "", { 1028 }, 4, "ANNNXX", RxTooManyRejects, 1024, "CXM: Packet Retry Overlimit" };
        QTest::newRow("RTLD, uppercase digest") << Rx{ pkg, 5000, "", {}, 0, "AAAAAA<RTLD:ERR>", RxComplete, 5000, "CXM: Hash : ", "pkg.tgz", md5.toUpper(), true, "pkg.tgz" };
        // An unnamed package is the tmp.txt written, and that is what gets installed.
        QTest::newRow("RTLD unnamed, verified") << Rx{ pkg, 5000, "", {}, 0, "AAAAAA<RTLD:NOR>", RxComplete, 5000, "CXM: Hash Matched", "", md5, true, "tmp.txt" };
        // The pieces of a size near 2 GiB are counted without overflow (a file of whole packets).
        const QByteArray whole = randomBytes(3, 5120), wholeMd5 = QCryptographicHash::hash(whole, QCryptographicHash::Md5).toHex();
        QTest::newRow("RTLD, size near 2 GiB") << Rx{ whole, INT_MAX, "", {}, 0, "AAAAAA<RTLD:NOR>", RxComplete, 5120, "CXM: Hash Matched", "big.tgz", wholeMd5, true, "big.tgz" };
        QTest::newRow("RTLD, another file's digest") << Rx{ d, 3000, "", {}, 0, "AAAA<RTLD:ERR>", RxComplete, 3000, "CXM: Hash : ", "pkg.tgz", md5, true, "pkg.tgz" };
    }
    void reception()
    {
        QFETCH(Rx, rx);
        const int reboots = sysroot.rebootCount();
        sysroot.writeAppFile("keep.txt", "kept");
        if (rx.path.isEmpty())
            QVERIFY(QDir(sysroot.appPath("tmp")).removeRecursively());
        StdoutCapture out;
        console->messageLabel->clear();
        console->setTotalFileSize(static_cast<quint64>(rx.size));
        ConsoleProbe::receive(*console, rx.name.constData(), rx.size, rx.runtime, rx.hash.constData());
        QCOMPARE(console->messageLabel->text(), rx.name.isEmpty() ? QString() : QStringLiteral("Receiving..."));
        if (rx.how == "burst") {
            QByteArray burst;
            for (int i = 0; i * 1024 < rx.data.size(); ++i)
                burst += xmodemPacket(static_cast<unsigned int>(i + 1), rx.data.mid(i * 1024, 1024));
            link.write(burst + char(xmodem::EOT));
        }
        if (rx.how == "raw")
            link.write(rx.data);
        const QByteArray replies = rx.how.isEmpty() ? send(rx) : QByteArray();
        QTRY_COMPARE(ended(*console), rx.status);
        const bool verified = rx.replies.endsWith("<RTLD:NOR>");
        ConsoleProbe::upgradeTimer(*console)->stop(); // the installer goes no further
        const int reached = std::exchange(ConsoleProbe::upgradeState(*console), int(UpgradeIdle));
        QCOMPARE(reached, int(verified ? UpgradePreInstall : UpgradeIdle)); // verified: the installer's first step ran
        QCOMPARE(ConsoleProbe::installPackage(*console), verified ? rx.path : QString());
        QCOMPARE(letters(replies + link.readFor(100)), rx.replies);
        QVERIFY(rx.path.isEmpty() || sysroot.appExists(rx.path));
        QCOMPARE(sysroot.readAppFile(rx.path), rx.data.left(rx.kept));
        QCOMPARE(sysroot.readAppFile("keep.txt"), QByteArray("kept"));
        QVERIFY2(!out.lines().filter(rx.log).isEmpty(), qPrintable(out.lines().join('|')));
        if (rx.status == RxComplete && rx.size == rx.kept)
            QCOMPARE(console->currentProgress(), rx.size);
        if (rx.runtime)
            QCOMPARE(console->statusLabel->text(), QString(verified ? "Upgrade package verification successful." : "Reboot now..."));
        QCOMPARE(sysroot.rebootCount(), reboots + (rx.replies.contains("<RTLD:ERR>") ? 1 : 0));
    }

    void steps_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("trail"); // state/delay of each step armed after step 2
        QTest::addColumn<QString>("logs");  // after "CXM: "
        QTest::addColumn<QString>("status"); // status and message before the reboot step
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("files"); // left in the working directory
        const QString all = "Un-tar pre_install-End|pre install-End|Un-tar all-End|Post install-End|Reboot-End";
        const QString done = "Upgrade finished, wait for reboot...", jumper = "Please make sure jumper removed",
                      error = "Installation Error!";
        QTest::newRow("good package") << "" << "3/1000 4/1000 5/3000" << all << done << jumper << "pre.done post.done firmware.v2";
        QTest::newRow("post_install exits 1") << "post exits 1" << "3/1000 4/1000 5/3000" << all << done << jumper << "post.done";
        QTest::newRow("no pre_install") << "no pre" << "5/3000" << "Un-tar pre_install-End|Pre install not start-Fail|Reboot-End" << error << "before" << "";
        QTest::newRow("pre_install overruns") << "pre overruns" << "5/3000" << "Un-tar pre_install-End|pre install-Fail|Reboot-End" << error << "before" << "";
        QTest::newRow("unpack overruns") << "unpack overruns" << "3/1000 5/1000" << "Un-tar pre_install-End|pre install-End|Un-tar all-Fail|Reboot-End" << "Please wait for installation..." << error << "pre.done";
        QTest::newRow("post_install overruns") << "post overruns" << "3/1000 4/1000 5/3000" << "Un-tar pre_install-End|pre install-End|Un-tar all-End|Post install-Fail|Reboot-End" << error << jumper << "pre.done post.done";
    }
    void steps()
    {
        QFETCH(QString, fault);
        QFETCH(QString, files);

        // Each package is unpacked in a working directory of its own.
        QTemporaryDir work(sysroot.appPath("work-XXXXXX")), source;
        const QByteArray sh = "#!/bin/sh\n", slow = "echo $$ > script.pid\nexec sleep 30\n";
        const auto put = [&](const QString &name, const QByteArray &text) {
            return sample::writeFile(source.filePath(name), text)
                && QFile::setPermissions(source.filePath(name), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        };
        QVERIFY(fault == "no pre" || put("pre_install", sh + (fault == "pre overruns" ? slow : "echo pre > pre.done\n")));
        QVERIFY(put("post_install", sh + "echo post > post.done\n" + (fault == "post overruns" ? slow : fault == "post exits 1" ? QByteArray("exit 1\n") : QByteArray())));
        QVERIFY(put("firmware.v2", "new firmware\n"));
        QCOMPARE(QProcess::execute(realTar, QStringList { "-czf", work.filePath("pkg.tgz"), "-C", source.path() }
                                                + QDir(source.path()).entryList(QDir::Files)), 0);
        QVERIFY(QDir::setCurrent(work.path()));
        if (fault == "unpack overruns") { // a tar that hangs when asked to unpack everything
            sysroot.writeFile("bin/tar", "#!/bin/sh\n[ $# -eq 2 ] && exec sleep 30\nexec " + realTar.toLocal8Bit() + " \"$@\"\n");
            QFile::setPermissions(sysroot.path("bin/tar"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        }
        const auto restore = qScopeGuard([&] { QFile::remove(sysroot.path("bin/tar")); QDir::setCurrent(sysroot.appDir()); });
        console->processFinishTimeout = fault.endsWith("overruns") ? 700 : 30000;
        ConsoleProbe::installPackage(*console) = "pkg.tgz";
        console->statusLabel->setText("Upgrade package verification successful.");
        console->messageLabel->setText("before");
        const int reboots = sysroot.rebootCount();

        StdoutCapture out;
        console->onUpgradeStatusChange(UpgradePreInstall);
        QStringList taken, before; // the window before the reboot step
        const QTimer *timer = ConsoleProbe::upgradeTimer(*console);
        while (timer->isActive() && taken.size() < 5) {
            taken << QString("%1/%2").arg(ConsoleProbe::upgradeState(*console)).arg(timer->interval());
            if (ConsoleProbe::upgradeState(*console) == UpgradeReboot)
                before = QStringList { console->statusLabel->text(), console->messageLabel->text() };
            // A LOAD or RTLD frame between the steps names another file; unpacked, it would leave no post_install.
            qstrncpy(ConsoleProbe::fileName(*console), "other.tgz", 52);
            ConsoleProbe::upgradeStep(*console);
        }
        QTEST(taken.join(' '), "trail");
        QTEST(out.lines().filter(QRegularExpression("^CXM: ")).join('|').remove("CXM: "), "logs");
        QTEST(before.value(0), "status");
        QTEST(before.value(1), "message");
        QCOMPARE(console->statusLabel->text(), QStringLiteral("Reboot now..."));
        QCOMPARE(sysroot.rebootCount(), reboots + 1);
        const QString dir = QFileInfo(work.path()).fileName() + '/';
        for (const QString &file : files.split(' ', Qt::SkipEmptyParts))
            QVERIFY2(sysroot.appExists(dir + file), qPrintable(file));
        // A script that overran was ended with its step.
        const int pid = sysroot.readAppFile(dir + "script.pid").trimmed().toInt();
        QVERIFY(pid <= 0 || kill(pid, 0) != 0);
    }
};

QTEST_MAIN(tst_xmodem_rx)
#include "tst_xmodem_rx.moc"
