// The system probes on sample sysroot files.

#include "hdw_config.h"
#include "testsysroot.h"

#include <QtTest>

class HardwareProbe
{
public:
    static void openCpuSources(HDW_config &hw) { hw.openCpuUsageSources(); }
};

// A process stat line with utime, stime and cutime in fields 13 to 15.
static QByteArray proc(int utime, int stime, int cutime)
{
    return QStringLiteral("42 (kvx) S 1 42 42 0 -1 4194560 900 0 0 0 %1 %2 %3 7 20 0 1\n")
        .arg(utime).arg(stime).arg(cutime).toLatin1();
}

class tst_probes : public QObject
{
    Q_OBJECT

private slots:
    void memory_data();
    void memory();
    void display_data();
    void display();
    void cpuUsage_data();
    void cpuUsage();
};

void tst_probes::memory_data()
{
    QTest::addColumn<QByteArray>("meminfo");  // empty: no file
    QTest::addColumn<unsigned long>("total");
    QTest::addColumn<unsigned long>("free");
    QTest::newRow("kernel layout") << QByteArray("MemTotal: 1024000 kB\nMemFree: 512000 kB\nMemAvailable: 9 kB\n"
                                                 "Buffers: 16000 kB\nCached: 128000 kB\nSwapCached: 5 kB\n")
                                   << 1024000ul << 656000ul;
    // The count stays at 3, so the read goes to the end: a late Buffers counts.
    QTest::newRow("no Buffers line") << QByteArray("MemTotal: 2000 kB\nMemFree: 100 kB\nCached: 30 kB\n"
                                                   "SwapCached: 7000 kB\n" + QByteArray(300, 'x') + "\nBuffers: 5 kB")
                                     << 2000ul << 135ul;
    QTest::newRow("stops after four") << QByteArray("MemTotal: 10 kB\nMemFree: 1 kB\nBuffers: 2 kB\nCached: 3 kB\n"
                                                    "MemFree: 500 kB\n")
                                      << 10ul << 6ul;
    QTest::newRow("ten-digit figures") << QByteArray("MemTotal: 1234567890 kB\nMemFree: 1000000000 kB\n"
                                                     "Buffers: 2 kB\nCached: 3 kB\n")
                                       << 0ul << 5ul;
    QTest::newRow("no file") << QByteArray() << 0ul << 0ul;
}

void tst_probes::memory()
{
    QFETCH(QByteArray, meminfo);
    QFETCH(unsigned long, total);
    QFETCH(unsigned long, free);
    TestSysroot root;
    if (!meminfo.isEmpty())
        root.writeFile("proc/meminfo", meminfo);
    root.activate();
    HDW_config hw;
    QCOMPARE(hw.checkSysRam(), meminfo.isEmpty() ? -1 : 0);
    QCOMPARE(hw.readTotalRamSize(), total);
    QCOMPARE(hw.property("free_ram_size").value<unsigned long>(), free);
}

void tst_probes::display_data()
{
    QTest::addColumn<QByteArray>("fb0");  // empty: no device
    QTest::addColumn<QList<unsigned long>>("figures");
    QTest::newRow("800x480") << QByteArray("800 480 32\n") << QList<unsigned long>{ 480, 800, 32 };
    QTest::newRow("no device") << QByteArray() << QList<unsigned long>{ 0, 0, 0 };
}

// Read afresh each time: a device lost after a good reading reads 0.
void tst_probes::display()
{
    QFETCH(QByteArray, fb0);
    QFETCH(QList<unsigned long>, figures);
    TestSysroot root;
    root.writeFile("dev/fb0", "1280 720 24\n");
    root.activate();
    HDW_config hw;
    QCOMPARE(hw.readLcdVerticalSize(), 720ul);
    QFile::remove(root.path("dev/fb0"));
    if (!fb0.isEmpty())
        root.writeFile("dev/fb0", fb0);
    const QList<unsigned long> got{ hw.readLcdVerticalSize(), hw.readLcdHorizontalSize(), hw.readLcdColorDepth() };
    QCOMPARE(got, figures);
}

void tst_probes::cpuUsage_data()
{
    // One sample per entry: process line, system line, expected share.
    QTest::addColumn<QList<QByteArray>>("process");
    QTest::addColumn<QList<QByteArray>>("system");
    QTest::addColumn<QList<int>>("usage");
    const QByteArray s0 = "cpu  400 0 100 400 50 0 50 0 0 0\n";   // 1000 ticks
    const QByteArray s1 = "cpu  480 0 120 500 50 0 50 7 7 7\n";   // 1200: steal and guest do not count
    const QByteArray s2 = "cpu  520 0 130 550 50 0 50 0 0 0\n";   // 1300
    QTest::newRow("first call, then 20%") << QList<QByteArray>{ proc(10, 5, 5), proc(30, 20, 10) }
                                          << QList<QByteArray>{ s0, s1 } << QList<int>{ 0, 20 };
    QTest::newRow("no tick in between") << QList<QByteArray>{ proc(10, 5, 5), proc(30, 20, 10), proc(50, 40, 30) }
                                        << QList<QByteArray>{ s0, s0, s1 } << QList<int>{ 0, 0, 30 };
    // A malformed line gives 0 and the next share is measured from the last
    // good sample: (120 - 20) * 100 / 300.
    QTest::newRow("short process line") << QList<QByteArray>{ proc(10, 5, 5), "42 (kvx) S 1 2 3\n", proc(50, 40, 30) }
                                        << QList<QByteArray>{ s0, s1, s2 } << QList<int>{ 0, 0, 33 };
    QTest::newRow("system line not 10 fields") << QList<QByteArray>{ proc(10, 5, 5), proc(30, 20, 10), proc(50, 40, 30) }
                                               << QList<QByteArray>{ s0, "cpu  1 2 3 4 5 6 7 8 9\n", s2 }
                                               << QList<int>{ 0, 0, 33 };
}

void tst_probes::cpuUsage()
{
    QFETCH(QList<QByteArray>, process);
    QFETCH(QList<QByteArray>, system);
    QFETCH(QList<int>, usage);
    TestSysroot root;
    const QString pidStat = QStringLiteral("proc/%1/stat").arg(QCoreApplication::applicationPid());
    root.writeFile(pidStat, process.at(0));
    root.writeFile("proc/stat", system.at(0));
    root.activate();
    HDW_config hw;
    HardwareProbe::openCpuSources(hw);
    for (int i = 0; i < usage.size(); ++i) {
        // Rewritten in place: the kept-open files must be read afresh.
        root.writeFile(pidStat, process.at(i));
        root.writeFile("proc/stat", system.at(i));
        QCOMPARE(hw.get_cpu_usage(), usage.at(i));
    }
}

QTEST_GUILESS_MAIN(tst_probes)
#include "tst_probes.moc"
