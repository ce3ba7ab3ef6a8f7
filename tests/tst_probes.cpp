// The system probes on sample sysroot files, the backlight device, and the hardware report.

#include "console_on_link.h"
#include "sample_sysroot.h"
#include "stdoutcapture.h"

#include <QtTest>
#include <sys/statvfs.h>

using Figures = QList<unsigned long>;

class tst_probes : public QObject
{
    Q_OBJECT

    TestSysroot root;

private slots:
    void init() { root.activate(); }

    void memory_data()
    {
        QTest::addColumn<QByteArray>("meminfo"); // null: no file
        QTest::addColumn<Figures>("totalAndFree");
        auto row = [](const char *name, const QByteArray &meminfo, const Figures &figures) {
            QTest::newRow(name) << meminfo << figures; };
        // The count stays at 3, so the read goes to the end: a late Buffers counts, SwapCached does not.
        row("no Buffers line", "MemTotal: 2000\nMemFree: 100\nCached: 30\nSwapCached: 7000\n" + QByteArray(300, 'x')
                               + "\nBuffers: 5", { 2000, 135 });
        row("stops after four", "MemTotal: 10\nMemFree: 1\nBuffers: 2\nCached: 3\nMemFree: 500\n", { 10, 6 });
        row("ten-digit figures", "MemTotal: 1234567890\nMemFree: 1000000000\nBuffers: 2\nCached: 3\n", { 0, 5 });
        row("no file", QByteArray(), { 0, 0 });
    }
    void memory()
    {
        QFETCH(QByteArray, meminfo);
        QFETCH(Figures, totalAndFree);
        QFile::remove(root.path("proc/meminfo"));
        if (!meminfo.isNull())
            root.writeFile("proc/meminfo", meminfo);
        HDW_config hw;
        QCOMPARE(hw.checkSysRam(), meminfo.isNull() ? -1 : 0);
        QCOMPARE((Figures{ hw.readTotalRamSize(), hw.property("free_ram_size").value<unsigned long>() }), totalAndFree);
    }

    // Samples in turn; a malformed line gives 0 and keeps the last good sample.
    void cpuUsage()
    {
        // Rewritten in place: the files kept open must be read afresh.
        auto sample = [this](const char *times, const char *system) {
            root.writeFile("proc/self/stat",
                           QByteArray("42 (kvx) S 1 42 42 0 -1 4194560 900 0 0 0") + times + '\n');
            root.writeFile("proc/stat", QByteArray("cpu  ") + system + '\n');
        };
        sample(" 10 5 5 7 20 0 1", "400 0 100 400 50 0 50 0 0 0"); // 20 of 1000 ticks
        HDW_config hw;
        QCOMPARE(hw.get_cpu_usage(), 0); // the first call
        QCOMPARE(hw.get_cpu_usage(), 0); // no tick in between
        sample(" 30 20 10 7 20 0 1", "480 0 120 500 50 0 50 7 7 7"); // 60 of 1200: steal and guest do not count
        QCOMPARE(hw.get_cpu_usage(), 20);
        sample("", "520 0 130 550 50 0 50 0 0 0"); // a process line too short
        QCOMPARE(hw.get_cpu_usage(), 0);
        sample(" 50 40 30 7 20 0 1", "1 2 3 4 5 6 7 8 9"); // a system line of 9 fields
        QCOMPARE(hw.get_cpu_usage(), 0);
        sample(" 50 40 30 7 20 0 1", "520 0 130 550 50 0 50 0 0 0"); // (120 - 60) * 100 / (1300 - 1200)
        QCOMPARE(hw.get_cpu_usage(), 60);
    }

    void backlight_data()
    {
        QTest::addColumn<QByteArray>("devices"); // first and second device before > after; "-": none
        QTest::addColumn<int>("percent");        // -99: only read
        QTest::addColumn<int>("readBack");
        QTest::addColumn<QStringList>("errors"); // of setting, and of reading
        QTest::newRow("full") << QByteArray("15\n 7 > 20 7") << 100 << 100 << QStringList();
        QTest::newRow("57") << QByteArray("15\n - > 11 -") << 57 << 55 << QStringList();
        QTest::newRow("dark") << QByteArray("15\n - > 0 -") << 0 << 0 << QStringList();
        QTest::newRow("second only") << QByteArray("- 7 > - 11") << 57 << 55 << QStringList();
        QTest::newRow("none") << QByteArray("- - > - -") << 57 << -1 << QStringList{ "HWI: BKlt Sys File Err" };
        QTest::newRow("kernel 21") << QByteArray("21 - > 21 -") << -99 << 100 << QStringList();
        QTest::newRow("kernel empty") << QByteArray(" - >  -") << -99 << -1 << QStringList{ "HWI: BKlt Set Err" };
    }
    void backlight()
    {
        QFETCH(QByteArray, devices);
        QFETCH(int, percent);
        QFETCH(int, readBack);
        QFETCH(QStringList, errors);
        const QString device = "sys/class/backlight/backlight2.1%1/brightness"; // 2.18 first, then 2.17
        const QList<QByteArray> before = devices.split('>').first().split(' ');
        QDir(root.path("sys/class/backlight")).removeRecursively();
        for (int i = 0; i < 2; ++i)
            if (before[i] != "-")
                root.writeFile(device.arg(8 - i), before[i]);
        HDW_config cfg; // the record holds 50: a reading must report the device
        int got = 0;
        const QStringList lines = printedLines([&] {
            if (percent != -99)
                cfg.setBackLight(percent);
            got = cfg.property("bklight").toInt();
        });
        QCOMPARE(lines, percent == -99 ? errors : errors + QStringList{ QString("HWI: Set BkLt %1").arg(percent) } + errors);
        QCOMPARE(got, readBack);
        QCOMPARE(hwcfg_data.backlight, percent == -99 ? 50 : percent); // kept, device or not, for the next save
        QByteArray after;
        for (int i = 0; i < 2; ++i)
            after += ' ' + (root.exists(device.arg(8 - i)) ? root.readFile(device.arg(8 - i)) : "-");
        QCOMPARE(after, devices.mid(devices.indexOf('>') + 1));
    }

    void report_data()
    {
        QTest::addColumn<QByteArray>("nameFile");
        QTest::addColumn<bool>("frameBuffer");       // the sample's "800 480 32", or none
        QTest::addColumn<QByteArray>("middle");      // DEVNAM to LCDBBP
        // A stored "%1" is sent as it is; UTF-8 outside Latin-1 becomes '?'.
        QTest::newRow("named") << QByteArray("NAM<%1 100% Z\xc3\xbc \xe2\x98\x85>\n") << true
                               << QByteArray("<DEVNAM:%1 100% Z\xfc ?><ADCCHN:0><LCDVER:480><LCDHOR:800><LCDBBP:32>");
        QTest::newRow("empty name, no frame buffer") << QByteArray("NAM<>\n") << false
                                                     << QByteArray("<DEVNAM:><ADCCHN:0><LCDVER:0><LCDHOR:0><LCDBBP:0>");
    }
    void report()
    {
        QFETCH(QByteArray, nameFile);
        QFETCH(bool, frameBuffer);
        QFETCH(QByteArray, middle);
        ConsoleOnLink panel;
        if (!frameBuffer)
            QVERIFY(QFile::remove(panel.sysroot.path("dev/fb0")));
        panel.sysroot.writeAppFile("device_name.txt", nameFile);
        QVERIFY(sample::writeAppFiles(panel.sysroot.appDir())); // the other files as on the sample panel
        QVERIFY(panel.start());
        panel.console->ReportHwCfg();
        const QByteArray sent = panel.sent();
        // The flash figures of the live file system: the total exact, the free space roughly (the machine is shared).
        struct statvfs fs;
        QVERIFY(statvfs(".", &fs) == 0);
        const QRegularExpressionMatch flash = QRegularExpression("<TFLHSZ:(\\d+)><FFLHSZ:(\\d+)>").match(sent);
        QCOMPARE(flash.captured(1).toULong(), static_cast<quint32>(fs.f_blocks) * static_cast<quint32>(fs.f_bsize / 1024));
        QVERIFY(qAbs(flash.captured(2).toLongLong() - qint64(static_cast<quint32>(fs.f_bfree) * (fs.f_bsize / 1024))) < 256 * 1024);
        QCOMPARE(sent, "<SER_NO:0214000510000001><MODELS:MVK 200><FIRMWD:4.1.0.7><DEVAPP:2.0.3.118><DESAPP:2.0.0.2552>" + middle
                 + "<ALM_CH:2><PWM_CH:4><DIO_CH:16><TRAMSZ:1024000><FRAMSZ:656000>" + flash.captured(0).toLatin1()
                 + "<PHYADD:00:00:00:00:00:00><BKLT:80><RTRPW:><UPDPW:><REPORT:0><LOTIZO:  60><HWCFEND>");
    }
};

QTEST_MAIN(tst_probes)
#include "tst_probes.moc"
