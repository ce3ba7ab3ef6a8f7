// Output settings, the battery-low check file and the backlight device.

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

    // The settings and calls out of range as the save writes them, and the
    // battery-low check file rewritten at once (tst_hwconfig reads such files).
    void settingsAsSaved()
    {
        TestSysroot sys;
        sys.populate();
        sys.writeAppFile("sys_conf.txt", "DIO<02>I\n");
        sys.writeAppFile("lowBatteryConf.txt", "CKB<1>\nleft over\n");
        sys.activate();
        const QByteArray saved = "BLK<050>\nDIO<00>H\nDIO<01>U\nDIO<02>L\nDIO<03>U\nDIO<04>U\nDIO<05>U\nDIO<06>U\nDIO<07>U\n"
                                 "DIO<08>U\nDIO<09>U\nDIO<10>U\nDIO<11>U\nDIO<12>U\nDIO<13>U\nDIO<14>U\nDIO<15>I\nPWM<0>L\n"
                                 "PWM<1>L\nPWM<2>L\nPWM<3>H\nALM<01>L\nALM<02>H\nCOM<0>N\nDIR<1>\nORI<0>\n";
        HDW_config cfg;
        const int input = hwcfg_data.dioFd[2];
        const QStringList out = printedLines([&] {
            const int dio[][3] = { { 0, 1, 2 }, { 2, 0, 2 }, { 15, 0, 1 }, { 16, 1, 2 }, { -1, 1, 2 } };
            for (const auto &d : dio)
                cfg.confDigiOut(d[0], d[1], d[2]);
            for (int channel : { 3, 4 })
                cfg.confPWMOut(channel, 1);
            for (int alarm : { 2, 0, 3 })
                cfg.confAlmOut(alarm, 1);
            cfg.confRs485DirectionPin(1);
            cfg.confBatteryLowCheck(false);
            cfg.saveHardwareConfig();
        });
        QCOMPARE(out, (QStringList{ "HWI: DIO-0-1-2", "HWI: DIO-2-0-2", "HWI: DIO-15-0-1", "HWI: DIO-16 out of range",
                                    "HWI: DIO--1 out of range", "HWI: PWM-3-1", "HWI: PWM-4 out of range", "HWI: ALM-2-1",
                                    "HWI: ALM-0 out of range", "HWI: ALM-3 out of range", "HWI: DIR-1",
                                    "HWI: Bat. Chk Off", "HWI: Conf. Saved" }));
        QCOMPARE(sys.readAppFile("sys_conf.txt"), saved);
        QCOMPARE(sys.readAppFile("lowBatteryConf.txt"), QByteArray("CKB<0>\n"));
        // The input read since start-up gave up its descriptor when reconfigured.
        QCOMPARE(fcntl(input, F_GETFD), -1);
    }
};

QTEST_GUILESS_MAIN(tst_outputs)
#include "tst_outputs.moc"
