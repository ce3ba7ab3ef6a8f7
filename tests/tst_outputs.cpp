// Output settings, the battery-low check file and the backlight device.

#include "hdw_config.h"
#include "stdoutcapture.h"
#include "testsysroot.h"

#include <QTemporaryFile>
#include <QtTest>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>

static const QString first = "sys/class/backlight/backlight2.18/brightness";
static const QString second = "sys/class/backlight/backlight2.17/brightness";

// Every output setting of the record, and its neighbours, as one text.
static QString outputState()
{
    const hwcfg_struct &d = hwcfg_data;
    QStringList s;
    for (int i = 0; i < 16; ++i)
        s << QString("%1%2%3").arg(d.dioDir[i]).arg(d.dioLevel[i]).arg(d.dioFd[i] > 0 ? "+" : "");
    for (int v : d.pwmOut)
        s << QString::number(v);
    for (int v : d.almOut)
        s << QString::number(v);
    s << QString::number(d.rs485DirPin) << QString::number(d.com0Enabled);
    return s.join(' ');
}

struct Bench
{
    TestSysroot sys;
    std::unique_ptr<HDW_config> cfg;

    Bench() { sys.activate(); }
    void construct()
    {
        cfg.reset();
        printedLines([this] { cfg.reset(new HDW_config); });
    }
};

class tst_outputs : public QObject
{
    Q_OBJECT

private slots:
    void backlight_data();
    void backlight();
    void settings_data();
    void settings();
    void batteryLowCheckFile_data();
    void batteryLowCheckFile();
    void outputsSurviveSaveAndReload();
};

void tst_outputs::backlight_data()
{
    QTest::addColumn<QByteArray>("before"); // first and second device, "-" for missing
    QTest::addColumn<int>("percent");       // -99: only read
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QStringList>("lines"); // setting and reading
    QTest::addColumn<int>("readBack");

    const QStringList ok;
    QTest::newRow("full") << QByteArray("15\n 7") << 100 << QByteArray("20 7") << ok << 100;
    QTest::newRow("57") << QByteArray("15\n -") << 57 << QByteArray("11 -") << ok << 55;
    QTest::newRow("dark") << QByteArray("15\n -") << 0 << QByteArray("0 -") << ok << 0;
    QTest::newRow("negative") << QByteArray("15\n -") << -5 << QByteArray("0 -") << ok << 0;
    QTest::newRow("second only") << QByteArray("- 7") << 57 << QByteArray("- 11") << ok << 55;
    QTest::newRow("none") << QByteArray("- -") << 57 << QByteArray("- -")
                          << QStringList { "HWI: BKlt Sys File Err", "HWI: BKlt Sys File Err" } << -1;
    QTest::newRow("kernel 21") << QByteArray("21 -") << -99 << QByteArray("21 -") << ok << 100;
    QTest::newRow("kernel 255") << QByteArray("255\n -") << -99 << QByteArray("255\n -") << ok << 100;
    QTest::newRow("kernel 1") << QByteArray("1\n -") << -99 << QByteArray("1\n -") << ok << 5;
    QTest::newRow("kernel empty") << QByteArray(" -") << -99 << QByteArray(" -")
                                  << QStringList { "HWI: BKlt Set Err" } << -1;
}

void tst_outputs::backlight()
{
    QFETCH(QByteArray, before);
    QFETCH(int, percent);
    QFETCH(QByteArray, after);
    QFETCH(QStringList, lines);
    QFETCH(int, readBack);

    Bench b;
    const QList<QByteArray> devices = before.split(' ');
    if (devices[0] != "-")
        b.sys.writeFile(first, devices[0]);
    if (devices[1] != "-")
        b.sys.writeFile(second, devices[1]);
    b.construct();
    hwcfg_data.backlight = 50; // reading reports the device, never the record

    int got = 0;
    const QStringList out = printedLines([&] {
        if (percent != -99)
            b.cfg->setBackLight(percent);
        got = b.cfg->property("bklight").toInt();
    });
    if (percent != -99) {
        // Kept as given, device or not, so that a save still records it.
        lines.insert(before == "- -" ? 1 : 0, QString("HWI: Set BkLt %1").arg(percent));
        QCOMPARE(hwcfg_data.backlight, percent);
    }
    QCOMPARE(out, lines);
    QCOMPARE(got, readBack);
    const QByteArray now = (b.sys.exists(first) ? b.sys.readFile(first) : "-") + ' '
                           + (b.sys.exists(second) ? b.sys.readFile(second) : "-");
    QCOMPARE(now, after);
}

void tst_outputs::settings_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("c");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("state");

    // DIO direction and level per channel, PWM, alarms, RS-485 pin, COM.
    const QString idle = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0 0 0 0 0 0 0 0";
    auto with = [&](int at, const QString &v) { QStringList s = idle.split(' '); s[at] = v; return s.join(' '); };
    QTest::newRow("DIO 5 high out") << QString("DIO") << 5 << 1 << 2 << QString("HWI: DIO-5-1-2") << with(5, "21");
    QTest::newRow("DIO 15 input") << QString("DIO") << 15 << 0 << 1 << QString("HWI: DIO-15-0-1") << with(15, "10");
    QTest::newRow("DIO 16") << QString("DIO") << 16 << 1 << 2 << QString("HWI: DIO-16 out of range") << idle;
    QTest::newRow("DIO -1") << QString("DIO") << -1 << 1 << 2 << QString("HWI: DIO--1 out of range") << idle;
    QTest::newRow("PWM 3") << QString("PWM") << 3 << 1 << 0 << QString("HWI: PWM-3-1") << with(19, "1");
    QTest::newRow("PWM 4") << QString("PWM") << 4 << 1 << 0 << QString("HWI: PWM-4 out of range") << idle;
    QTest::newRow("alarm 1") << QString("ALM") << 1 << 1 << 0 << QString("HWI: ALM-1-1") << with(20, "1");
    QTest::newRow("alarm 2") << QString("ALM") << 2 << 1 << 0 << QString("HWI: ALM-2-1") << with(21, "1");
    QTest::newRow("alarm 3") << QString("ALM") << 3 << 1 << 0 << QString("HWI: ALM-3 out of range") << idle;
    QTest::newRow("direction pin") << QString("DIR") << 1 << 0 << 0 << QString("HWI: DIR-1") << with(22, "1");
}

void tst_outputs::settings()
{
    QFETCH(QString, operation);
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, c);
    QFETCH(QString, line);
    QFETCH(QString, state);

    Bench bench;
    bench.construct();
    HDW_config &cfg = *bench.cfg;
    const QStringList out = printedLines([&] {
        if (operation == "DIO")
            cfg.confDigiOut(a, b, c);
        else if (operation == "PWM")
            cfg.confPWMOut(a, b);
        else if (operation == "ALM")
            cfg.confAlmOut(a, b);
        else
            cfg.confRs485DirectionPin(a);
    });
    QCOMPARE(out, QStringList { line });
    QCOMPARE(outputState(), state);
}

void tst_outputs::batteryLowCheckFile_data()
{
    QTest::addColumn<bool>("enable");
    QTest::addColumn<QByteArray>("old"); // "DIR" makes the file a directory
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");

    QTest::newRow("off") << false << QByteArray("CKB<1>\nleft over\n") << QByteArray("CKB<0>\n")
                         << QString("HWI: Bat. Chk Off");
    QTest::newRow("on") << true << QByteArray() << QByteArray("CKB<1>\n") << QString("HWI: Bat. Chk ON");
    QTest::newRow("unwritable") << true << QByteArray("DIR") << QByteArray() << QString("HWI: Can't WR Low Bat. Conf. File");
}

void tst_outputs::batteryLowCheckFile()
{
    QFETCH(bool, enable);
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);

    Bench b;
    b.construct();
    hwcfg_data.batLowCheck = !enable;
    if (old == "DIR")
        b.sys.makeAppDir("lowBatteryConf.txt");
    else if (!old.isNull())
        b.sys.writeAppFile("lowBatteryConf.txt", old);
    QCOMPARE(printedLines([&] { b.cfg->confBatteryLowCheck(enable); }), QStringList { line });
    QCOMPARE(b.cfg->isBatteryLowCheckEnable(), enable); // changed even when unwritten
    if (bytes.isNull())
        return;
    QCOMPARE(b.sys.readAppFile("lowBatteryConf.txt"), bytes);
    b.construct();
    QCOMPARE(b.cfg->isBatteryLowCheckEnable(), enable);
}

void tst_outputs::outputsSurviveSaveAndReload()
{
    Bench b;
    b.sys.populate();
    b.construct();
    int result = -1;
    printedLines([&] {
        b.cfg->confDigiOut(0, 1, 2);
        b.cfg->confDigiOut(1, 0, 2);
        b.cfg->confDigiOut(2, 0, 1);
        b.cfg->confDigiOut(15, 1, 2);
        b.cfg->confPWMOut(3, 1);
        b.cfg->confAlmOut(2, 1);
        b.cfg->confRs485DirectionPin(1);
        b.cfg->setBackLight(35);
        result = b.cfg->saveHardwareConfig();
    });
    QCOMPARE(result, 0);
    const QByteArray conf = b.sys.readAppFile("sys_conf.txt");
    for (const char *line : { "BLK<035>\n", "DIO<00>H\n", "DIO<01>L\n", "DIO<02>I\n", "DIO<03>U\n", "DIO<15>H\n",
                              "PWM<0>L\n", "PWM<3>H\n", "ALM<01>L\n", "ALM<02>H\n", "DIR<1>\n" })
        QVERIFY2(conf.contains(line), line);

    b.sys.writeFile(first, "0");
    b.construct();
    const QString reloaded = "21 20 10+ 00 00 00 00 00 00 00 00 00 00 00 00 21 0 0 0 1 0 1 1 0";
    QCOMPARE(outputState(), reloaded);
    QCOMPARE(hwcfg_data.backlight, 35);
    QCOMPARE(b.sys.readFile(first), QByteArray("7"));

    // The input read since start-up gives up its descriptor when reconfigured.
    const int fd = hwcfg_data.dioFd[2];
    printedLines([&] { b.cfg->confDigiOut(2, 0, 1); });
    QCOMPARE(outputState(), QString(reloaded).replace("10+", "10"));
    errno = 0;
    QVERIFY(fcntl(fd, F_GETFD) == -1 && errno == EBADF);
}

QTEST_GUILESS_MAIN(tst_outputs)
#include "tst_outputs.moc"
