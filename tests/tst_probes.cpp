// The system probes on sample sysroot files, read afresh at every call.

#include "hdw_config.h"
#include "testsysroot.h"

#include <QtTest>

using Figures = QList<unsigned long>;

class tst_probes : public QObject
{
    Q_OBJECT

    TestSysroot root;

private slots:
    void initTestCase() { root.activate(); }

    void memory_data()
    {
        QTest::addColumn<QByteArray>("meminfo"); // null: no file
        QTest::addColumn<Figures>("totalAndFree");
        auto row = [](const char *name, const QByteArray &meminfo, const Figures &figures) {
            QTest::newRow(name) << meminfo << figures; };
        row("kernel layout", "MemTotal:  1024000 kB\nMemFree:  512000 kB\nMemAvailable:  9 kB\nBuffers:  16000 kB\n"
                             "Cached:  128000 kB\nSwapCached:  5 kB\n", { 1024000, 656000 });
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

    // A device lost after a good reading reads 0.
    void display()
    {
        root.writeFile("dev/fb0", "800 480 32\n");
        HDW_config hw;
        auto lcd = [&hw] { return Figures{ hw.readLcdVerticalSize(), hw.readLcdHorizontalSize(), hw.readLcdColorDepth() }; };
        QCOMPARE(lcd(), (Figures{ 480, 800, 32 }));
        QFile::remove(root.path("dev/fb0"));
        QCOMPARE(lcd(), (Figures{ 0, 0, 0 }));
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
};

QTEST_GUILESS_MAIN(tst_probes)
#include "tst_probes.moc"
