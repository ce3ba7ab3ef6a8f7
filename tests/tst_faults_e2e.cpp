// End to end: the simulation executable refuses to start without a sysroot, starts with or without its terminal, and the
// simulated panel takes lrzsz's sx uploads and serves its rx downloads, each through a relay with a real line's
// turnaround. It survives a host that vanishes inside a frame or a transfer, a full disk during an upload, a host that
// stalls, and one that floods garbage; then an ordinary session (cleanup()) still works. BOOT, and a host that vanishes
// where the panel cannot go on, end the process with status 0; a restarted one serves the host.

#include "panelsession.h"
#include "xmodem.h"

#include <QtTest>

static const char ACK = xmodem::ACK, CAN = xmodem::CAN;

// Random input must never spell these after a '#': they start transfers, run programs or close the link.
static bool spellsUnsafe(const QByteArray &bytes) { return QRegularExpression("#(LOAD|RTLD|SYNC|BOOT|GETF|UNIX)").match(QString::fromLatin1(bytes)).hasMatch(); }

static const QByteArray three = randomBytes(3, 3000); // tmp/three.bin, to download

class tst_faults_e2e : public QObject
{
    Q_OBJECT
    QScopedPointer<PanelSession> s;

private slots:
    void init()
    {
        s.reset(new PanelSession);
        s->sysroot.makeAppDir("fonts");
        s->sysroot.writeAppFile("tmp/three.bin", three);
        s->sysroot.writeAppFile("sys_conf.txt", "BLK<080>\n"); // a stored backlight, for starts()
        // Some faults end the process: a platform that LeakSanitizer finds clean at exit.
        QVERIFY(s->start(true, { "QT_QPA_PLATFORM=minimal:fontconfig" }));
    }

    // A setting, an upload and its download, unless the test failed.
    void cleanup()
    {
        if (QTest::currentTestFailed())
            return;
        const QByteArray data = randomBytes(2, 2500);
        QVERIFY(s->command("#SNAM<next>#").endsWith("#SNAM<next>#<SNAM:NOR>\n\r"));
        QVERIFY(upload(s->link, "next.bin", data) && s->sysroot.readAppFile("tmp/next.bin") == data);
        QVERIFY(download(s->link, "tmp/next.bin", data));
    }

    void refusesWithoutSysroot_data()
    {
        QTest::addColumn<QString>("sysroot");
        QTest::newRow("empty") << QString();
        QTest::newRow("not a directory") << QStringLiteral("/nonexistent/kvx");
        QTest::newRow("no reboot") << QStringLiteral("EMPTY");
    }
    void refusesWithoutSysroot()
    {
        QFETCH(QString, sysroot);
        QTemporaryDir empty;
        QProcess p;
        p.setEnvironment(QProcess::systemEnvironment() << "KVX_SYSROOT=" + (sysroot == "EMPTY" ? empty.path() : sysroot)); // empty: as if unset
        p.start(QStringLiteral(KVX_SIM_EXECUTABLE_FOR_TESTS), QStringList());
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
        QCOMPARE(p.readAllStandardError().count('\n'), 1);
        QVERIFY(QDir(empty.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }

    // The start-up lines in order (the stored backlight first) and that backlight on the device; no greeting on the
    // terminal. (With the clock chip: tst_hwconfig.)
    void starts()
    {
        const QStringList all = s->allLines();
        const QStringList inOrder{ "HWI: Set BkLt 80", "HWI: Bat\\. Low Chk.*", "No Ext\\. RTC", "HWI: SN: .*", "\\+\\+\\+CXM", "CXM: Init Success" };
        const QRegularExpression lines("^" + inOrder.join("\n(?:.*\n)*") + "$", QRegularExpression::MultilineOption);
        QVERIFY2(all.join('\n').contains(lines), qPrintable(all.join('|')));
        QCOMPARE(all.filter(QRegularExpression("^(RTC: |\\+\\+\\+RTC)")), QStringList()); // nothing else of the clock
        QCOMPARE(s->sysroot.readFile("sim/system_clock"), QByteArray());
        QCOMPARE(s->sysroot.readFile("sys/class/backlight/backlight2.18/brightness"), QByteArray("16"));
        QVERIFY(!all.contains("HWI: Read <PID>/stat error"));
        QCOMPARE(s->link.readFor(300), QByteArray());
    }

    // A missing terminal is reported and never opened later: there is no retry. A missing stat file of the process's own
    // is reported too. (On a panel of its own: the fixture's has its terminal.)
    void missingTerminal()
    {
        PanelSession t;
        QVERIFY(QFile::remove(t.sysroot.path("proc/self/stat")));
        QVERIFY(t.start(false));
        const QString all = t.allLines().join('\n');
        QVERIFY(all.contains("HWI: Read <PID>/stat error"));
        QVERIFY2(all.contains("---CXM:Can't Open Serial Port\nCXM: Init Success"), qPrintable(all));
        QVERIFY(t.link.open() && t.link.linkAs(t.sysroot.path("dev/ttyGS0")));
        t.send("#HWCF#");
        QCOMPARE(t.link.readFor(1500), QByteArray());
        QCOMPARE(t.process.state(), QProcess::Running);
    }

    void sxUploads()
    {
        // sx sends a short tail in 128-byte packets, which this receiver refuses: it gets a copy padded to
        // 1024 bytes and the frame announces the true size. sx keeps what arrives while it writes: a short turnaround.
        const QByteArray data = randomBytes(1, 200 * 1024 + 333);
        s->sysroot.writeFile("padded.bin", data + QByteArray(1024 - data.size() % 1024, char(0x1A)));
        QVERIFY(s->command("#LOAD<big.bin>" + QByteArray::number(data.size()) + "#").endsWith("\n\r"));
        const QString problem = runLrzsz(s->link, { "sx", "-k", s->sysroot.path("padded.bin") }, s->sysroot.root(), 10, 20000);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY(s->waitForLine("CXM: ACK EOT"));
        QCOMPARE(s->sysroot.readAppFile("tmp/big.bin"), data);
    }

    void rxDownloads_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("empty") << 0;
        QTest::newRow("300 KiB, blocks wrap") << 300 * 1024 + 517;
    }
    void rxDownloads()
    {
        QFETCH(int, size);
        const QByteArray content = randomBytes(2, size);
        s->sysroot.writeAppFile("out.bin", content);
        QCOMPARE(s->command("#GETF<out.bin>#"), "#GETF<out.bin>#<GETF:" + QByteArray::number(size) + ">\n\r");
        // Inside the first 400 ms a 'C' is console input and comes back as echo (rx would send it at once).
        QCOMPARE(s->link.readFor(200), QByteArray());
        s->send("C");
        QCOMPARE(s->link.readUntil("C", 300), QByteArray("C"));
        QCOMPARE(s->link.readFor(450), QByteArray());
        QTemporaryDir host;
        const QString problem = runLrzsz(s->link, { "rx", "-c", "got.bin" }, host.path(), 50, 30000);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QFile got(host.path() + "/got.bin");
        QVERIFY(got.open(QIODevice::ReadOnly));
        // The original bytes, then padding up to a whole packet, a whole one if none is left. rx's answer to the EOT
        // reaches the console as input; commands work again (cleanup()).
        QCOMPARE(got.readAll(), content + QByteArray(1024 - size % 1024, '\x1a'));
    }

    void hostFails_data()
    {
        QTest::addColumn<QString>("at");         // where the host leaves the panel
        QTest::addColumn<QString>("fault");      // vanish, stall, or stall then cancel
        QTest::addColumn<QStringList>("lines");  // the panel's diagnostics, in order
        QTest::addColumn<QByteArray>("answers"); // what the panel sends a stalled host
        QTest::addColumn<int>("kept");           // bytes of the upload kept; -1: the link closes for good
        QTest::newRow("asks to boot") << "boot" << "ask" << QStringList() << QByteArray() << -1;
        QTest::newRow("vanishes inside a frame") << "frame" << "vanish" << QStringList{ "Reboot: Wrong console mode" } << QByteArray() << -1;
        // A cut packet is left to its timer (four stalls end the reception), between packets none runs; a download waits
        // for the host without limit, and its CAN frees the console.
        QTest::newRow("vanishes inside an upload packet") << "packet" << "vanish" << QStringList{ "Send Boot Up", "CXM: Packet TimeOut", "CXM: File Rx End" } << QByteArray() << 0;
        QTest::newRow("vanishes between upload packets") << "between" << "vanish" << QStringList{ "CXM: File Rx End", "Send Boot Up" } << QByteArray() << 1024;
        QTest::newRow("vanishes inside a download") << "download" << "vanish" << QStringList{ "Reboot: Wrong console mode" } << QByteArray() << -1;
        QTest::newRow("stalls inside a packet") << "packet" << "stall" << QStringList{ "retry, ACK 0", "retry, ACK 1", "retry, ACK 2", "CXM: Packet TimeOut", "CXM: File Rx End" } << QByteArray(3, ACK) << 0;
        QTest::newRow("stalls inside a download, then cancels") << "download" << "cancel" << QStringList{ "CXM:Break Transfer" } << QByteArray() << 0;
    }

    void hostFails()
    {
        QFETCH(QString, at);
        QFETCH(QString, fault);
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, answers);
        QFETCH(int, kept);
        const QByteArray data = randomBytes(1, 3000), first = xmodemPacket(1, data.left(1024));
        QByteArray got;
        if (at == "frame" || at == "boot") {
            const QByteArray frame = at == "boot" ? "#BOOT#" : "#SNAM<half";
            s->send(frame);
            QCOMPARE(s->link.readUntil(frame), frame);
        } else if (at == "download") {
            QVERIFY(download(s->link, "tmp/three.bin", three, 1));
        } else {
            QVERIFY(s->command("#LOAD<cut.bin>3000#").endsWith("C\n\r")); // the first start request ends the reply
            s->send(at == "packet" ? first.left(500) : first); // half a packet is taken in and waited on; a whole one acknowledged
            got = at == "packet" ? s->link.readFor(200) : s->link.readUntil(QByteArray(1, ACK));
        }
        if (fault == "vanish") { // a new terminal stands behind dev/ttyGS0 before the panel reopens it a second later
            s->link.close();
            QVERIFY(s->waitForLine("CXM: RX Error", 3000, true) && s->waitForLine("Reopen USB", 1000)); // after a dot, maybe
            QVERIFY(s->link.open() && s->link.linkAs(s->sysroot.path("dev/ttyGS0")));
        } else if (fault == "cancel") {
            got += s->link.readFor(1500);
            s->send(QByteArray(1, CAN));
        }
        for (const QString &line : lines)
            QVERIFY2(s->waitForLine(line, 10000, true), qPrintable(line + " missing: " + s->allLines().join('|')));
        if (kept >= 0 && fault != "vanish") {
            got += s->link.readFor(100);
            while (at == "packet" && got.startsWith('C')) // a slow start may have crossed a further request with the packet
                got.remove(0, 1);
            QCOMPARE(got, answers);
        }
        if (kept < 0) { // the process ends, for its service to start a fresh one (which serves cleanup())
            QCOMPARE(s->link.readUntil("<BOOT:NOR>", 2000), QByteArray("<BOOT:NOR>"));
            QVERIFY(s->process.state() == QProcess::NotRunning || s->process.waitForFinished(5000));
            QCOMPARE(s->process.exitCode(), 0);
            QVERIFY(s->start(true, { "QT_QPA_PLATFORM=minimal:fontconfig" }));
            return;
        }
        QVERIFY(fault != "vanish" || !s->link.readUntil("<BOOT_UP>", 2000).isEmpty());
        QCOMPARE(s->sysroot.readAppFile("tmp/cut.bin"), data.left(kept));
    }

    void fullDiskDuringUpload()
    {
        QVERIFY(QFile::link("/dev/full", s->sysroot.appPath("tmp/full.bin"))); // every write: "no space left on device"
        QVERIFY(s->command("#LOAD<full.bin>3000#").endsWith("C\n\r"));
        s->send(xmodemPacket(1, randomBytes(1, 1024)));
        QCOMPARE(s->link.readUntil(QByteArray(2, CAN)), QByteArray(2, CAN)); // the host is told to give up instead of being left to resend
        QVERIFY(s->waitForLine("CXM: File Error", 5000, true) && s->waitForLine("CXM: File Rx End"));
        QCOMPARE(s->link.readFor(300), QByteArray()); // no acknowledgement of an EOT, no reply: a failed LOAD is silent
        QVERIFY(QFileInfo(s->sysroot.appPath("tmp/full.bin")).isSymLink());
    }

    void garbageFlood_data()
    {
        QTest::addColumn<QString>("during");
        for (const char *during : { "idle", "upload" })
            QTest::newRow(during) << QString(during);
    }

    void garbageFlood()
    {
        QFETCH(QString, during);
        const QByteArray garbage = randomBytes(0x6b7678, 64 * 1024);
        QVERIFY(!spellsUnsafe(garbage));
        QVERIFY(during != "upload" || s->command("#LOAD<flood.bin>5000#").endsWith("C\n\r"));
        QByteArray answered = s->link.readFor(0);
        for (int at = 0; at < garbage.size(); at += 512) { // as fast as the panel takes it, its answers read meanwhile
            s->send(garbage.mid(at, 512));
            answered += s->link.readFor(5);
        }
        // A cancel and a '#' end what the flood left half done: the '#' closes a frame, or opens one the next leaves empty.
        s->send(QByteArray(1, CAN) + '#');
        answered += s->link.readFor(300);
        // An idle console echoes every byte (a carriage return as two).
        QVERIFY2(during != "idle" || answered.size() >= garbage.size(), qPrintable(QString::number(answered.size())));
    }
};

QTEST_GUILESS_MAIN(tst_faults_e2e)
#include "tst_faults_e2e.moc"
