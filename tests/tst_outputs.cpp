// The backlight device: its level set and read back.

#include "hdw_config.h"
#include "stdoutcapture.h"
#include "testsysroot.h"

#include <QtTest>
#include <fcntl.h>

class tst_outputs : public QObject
{
    Q_OBJECT

private slots:
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
        TestSysroot sys;
        const QString device = "sys/class/backlight/backlight2.1%1/brightness"; // 2.18 first, then 2.17
        const QList<QByteArray> before = devices.split('>').first().split(' ');
        QDir(sys.path("sys/class/backlight")).removeRecursively();
        for (int i = 0; i < 2; ++i)
            if (before[i] != "-")
                sys.writeFile(device.arg(8 - i), before[i]);
        sys.activate();
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
            after += ' ' + (sys.exists(device.arg(8 - i)) ? sys.readFile(device.arg(8 - i)) : "-");
        QCOMPARE(after, devices.mid(devices.indexOf('>') + 1));
    }
};

QTEST_GUILESS_MAIN(tst_outputs)
#include "tst_outputs.moc"
