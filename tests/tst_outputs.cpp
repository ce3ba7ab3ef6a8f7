// Output settings, the battery-low check file and the backlight device.

#include "hdw_config.h"
#include "testsysroot.h"

#include <QTemporaryFile>
#include <QtTest>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>

// What the code under test printed on standard output, line by line.
static QStringList printed(const std::function<void()> &action)
{
    QTemporaryFile file;
    if (!file.open())
        return { "capture failed" };
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
    action();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    QFile back(file.fileName());
    back.open(QIODevice::ReadOnly);
    return QString::fromLocal8Bit(back.readAll()).split('\n', Qt::SkipEmptyParts);
}

static const char firstBacklight[] = "sys/class/backlight/backlight2.18/brightness";
static const char secondBacklight[] = "sys/class/backlight/backlight2.17/brightness";

// The output settings of the record in one row: DIO directions, DIO levels,
// PWM states, alarm states, RS-485 direction pin.
enum { Dir = 0, Level = 16, Pwm = 32, Alarm = 36, Rs485 = 38, StateSize = 39 };

static QVector<int> outputState()
{
    QVector<int> s;
    for (int v : hwcfg_data.dioDir)
        s << v;
    for (int v : hwcfg_data.dioLevel)
        s << v;
    for (int v : hwcfg_data.pwmOut)
        s << v;
    for (int v : hwcfg_data.almOut)
        s << v;
    s << hwcfg_data.rs485DirPin;
    return s;
}

// Readable when a comparison fails.
static QString text(const QVector<int> &state)
{
    QStringList parts;
    for (int v : state)
        parts << QString::number(v);
    return parts.join(' ');
}

struct Bench
{
    TestSysroot sys;
    std::unique_ptr<HDW_config> cfg;

    Bench() { sys.activate(); }
    void construct()
    {
        cfg.reset();
        printed([this] { cfg.reset(new HDW_config); });
    }
};

class tst_outputs : public QObject
{
    Q_OBJECT

private slots:
    void backlightWrite_data();
    void backlightWrite();
    void backlightRead_data();
    void backlightRead();
    void settings_data();
    void settings();
    void dioDropsInputDescriptor_data();
    void dioDropsInputDescriptor();
    void batteryLowCheckFile_data();
    void batteryLowCheckFile();
    void outputsSurviveSaveAndReload();
};

void tst_outputs::backlightWrite_data()
{
    QTest::addColumn<int>("devices"); // 1: first present, 2: second present
    QTest::addColumn<int>("percent");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("readBack");

    // Before each row the first device holds "15" and a line end, the second "7".
    QTest::newRow("full") << 3 << 100 << QByteArray("20") << QByteArray("7")
                          << QStringList { "HWI: Set BkLt 100" } << 100;
    QTest::newRow("57 rounds down") << 1 << 57 << QByteArray("11") << QByteArray()
                                    << QStringList { "HWI: Set BkLt 57" } << 55;
    QTest::newRow("dark replaces a longer value") << 1 << 0 << QByteArray("0") << QByteArray()
                                                  << QStringList { "HWI: Set BkLt 0" } << 0;
    QTest::newRow("negative is dark") << 1 << -5 << QByteArray("0") << QByteArray()
                                      << QStringList { "HWI: Set BkLt -5" } << 0;
    QTest::newRow("second device only") << 2 << 57 << QByteArray() << QByteArray("11")
                                        << QStringList { "HWI: Set BkLt 57" } << 55;
    QTest::newRow("no device") << 0 << 57 << QByteArray() << QByteArray()
                               << QStringList { "HWI: BKlt Sys File Err", "HWI: Set BkLt 57" } << -1;
}

void tst_outputs::backlightWrite()
{
    QFETCH(int, devices);
    QFETCH(int, percent);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(QStringList, lines);
    QFETCH(int, readBack);

    Bench b;
    if (devices & 1)
        b.sys.writeFile(firstBacklight, "15\n");
    if (devices & 2)
        b.sys.writeFile(secondBacklight, "7");
    b.construct();

    QCOMPARE(printed([&] { b.cfg->setBackLight(percent); }), lines);
    // The level is kept as given, device or not, so a save still records it.
    QCOMPARE(hwcfg_data.backlight, percent);
    QCOMPARE(b.sys.exists(firstBacklight), !first.isNull());
    QCOMPARE(b.sys.exists(secondBacklight), !second.isNull());
    if (!first.isNull())
        QCOMPARE(b.sys.readFile(firstBacklight), first);
    if (!second.isNull())
        QCOMPARE(b.sys.readFile(secondBacklight), second);

    int got = 0;
    const QStringList readLines = printed([&] { got = b.cfg->property("bklight").toInt(); });
    QCOMPARE(got, readBack);
    QCOMPARE(readLines, readBack < 0 ? QStringList { "HWI: BKlt Sys File Err" } : QStringList());
}

void tst_outputs::backlightRead_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QByteArray>("kernel");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("21 is full") << QString(firstBacklight) << QByteArray("21") << 100 << QStringList();
    QTest::newRow("20 with line end") << QString(firstBacklight) << QByteArray("20\n") << 100 << QStringList();
    QTest::newRow("255") << QString(firstBacklight) << QByteArray("255\n") << 100 << QStringList();
    QTest::newRow("11") << QString(firstBacklight) << QByteArray("11\n") << 55 << QStringList();
    QTest::newRow("1") << QString(firstBacklight) << QByteArray("1") << 5 << QStringList();
    QTest::newRow("0") << QString(firstBacklight) << QByteArray("0\n") << 0 << QStringList();
    QTest::newRow("second device") << QString(secondBacklight) << QByteArray("3\n") << 15 << QStringList();
    QTest::newRow("empty") << QString(firstBacklight) << QByteArray() << -1 << QStringList { "HWI: BKlt Set Err" };
}

void tst_outputs::backlightRead()
{
    QFETCH(QString, device);
    QFETCH(QByteArray, kernel);
    QFETCH(int, percent);
    QFETCH(QStringList, lines);

    Bench b;
    b.construct();
    b.sys.writeFile(device, kernel);
    hwcfg_data.backlight = 50; // the reading reports the device, not the record
    int got = 0;
    QCOMPARE(printed([&] { got = b.cfg->readBackLight(); }), lines);
    QCOMPARE(got, percent);
}

void tst_outputs::settings_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("c");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QVector<int>>("changes"); // pairs of state index and value

    QTest::newRow("DIO output high") << QString("DIO") << 5 << 1 << 2 << QString("HWI: DIO-5-1-2")
                                     << QVector<int> { Dir + 5, 2, Level + 5, 1 };
    QTest::newRow("DIO last as input") << QString("DIO") << 15 << 0 << 1 << QString("HWI: DIO-15-0-1")
                                       << QVector<int> { Dir + 15, 1 };
    QTest::newRow("DIO past the last") << QString("DIO") << 16 << 1 << 2 << QString("HWI: DIO-16 out of range") << QVector<int>();
    QTest::newRow("DIO negative") << QString("DIO") << -1 << 1 << 2 << QString("HWI: DIO--1 out of range") << QVector<int>();
    QTest::newRow("PWM 0 on") << QString("PWM") << 0 << 1 << 0 << QString("HWI: PWM-0-1") << QVector<int> { Pwm + 0, 1 };
    QTest::newRow("PWM 3 on") << QString("PWM") << 3 << 1 << 0 << QString("HWI: PWM-3-1") << QVector<int> { Pwm + 3, 1 };
    QTest::newRow("PWM 4") << QString("PWM") << 4 << 1 << 0 << QString("HWI: PWM-4 out of range") << QVector<int>();
    QTest::newRow("alarm 1") << QString("ALM") << 1 << 1 << 0 << QString("HWI: ALM-1-1") << QVector<int> { Alarm + 0, 1 };
    QTest::newRow("alarm 2") << QString("ALM") << 2 << 1 << 0 << QString("HWI: ALM-2-1") << QVector<int> { Alarm + 1, 1 };
    QTest::newRow("alarm 0") << QString("ALM") << 0 << 1 << 0 << QString("HWI: ALM-0 out of range") << QVector<int>();
    QTest::newRow("alarm 3") << QString("ALM") << 3 << 1 << 0 << QString("HWI: ALM-3 out of range") << QVector<int>();
    QTest::newRow("direction pin") << QString("DIR") << 1 << 0 << 0 << QString("HWI: DIR-1") << QVector<int> { Rs485, 1 };
}

void tst_outputs::settings()
{
    QFETCH(QString, operation);
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, c);
    QFETCH(QString, line);
    QFETCH(QVector<int>, changes);

    Bench bench;
    bench.construct();
    HDW_config &cfg = *bench.cfg;
    const QVector<int> before = outputState();
    QCOMPARE(before.size(), int(StateSize));
    const QStringList out = printed([&] {
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

    QVector<int> expected = before;
    for (int i = 0; i + 1 < changes.size(); i += 2)
        expected[changes[i]] = changes[i + 1];
    QCOMPARE(text(outputState()), text(expected));
    // Neighbours of the arrays stay as they were.
    for (int fd : hwcfg_data.dioFd)
        QCOMPARE(fd, 0);
    QCOMPARE(hwcfg_data.com0Enabled, false);
}

void tst_outputs::dioDropsInputDescriptor_data()
{
    QTest::addColumn<QString>("descriptor"); // "open", "failed" (-1) or "none" (0)
    QTest::addColumn<int>("direction");

    QTest::newRow("input made an output") << QString("open") << 2;
    QTest::newRow("input named input again") << QString("open") << 1;
    QTest::newRow("input whose file was missing") << QString("failed") << 0;
    QTest::newRow("channel without descriptor") << QString("none") << 2;
}

void tst_outputs::dioDropsInputDescriptor()
{
    QFETCH(QString, descriptor);
    QFETCH(int, direction);

    Bench b;
    b.construct();
    b.sys.writeFile("gpio-value", "0\n");
    int fd = 0;
    if (descriptor == "open")
        fd = ::open(qPrintable(b.sys.path("gpio-value")), O_RDONLY);
    else if (descriptor == "failed")
        fd = -1;
    QVERIFY(descriptor != "open" || fd > 0);
    hwcfg_data.dioDir[3] = 1;
    hwcfg_data.dioFd[3] = fd;
    const bool stdinOpen = fcntl(0, F_GETFD) != -1;

    printed([&] { b.cfg->confDigiOut(3, 0, direction); });
    QCOMPARE(hwcfg_data.dioFd[3], 0);
    QCOMPARE(b.cfg->readDigiInputOutputDirection(3), direction);
    if (fd > 0) {
        errno = 0;
        QCOMPARE(fcntl(fd, F_GETFD), -1);
        QCOMPARE(errno, EBADF);
    }
    // A channel without a descriptor holds 0, which must not be taken for one.
    QCOMPARE(fcntl(0, F_GETFD) != -1, stdinOpen);
    QCOMPARE(b.cfg->readDigiInputOutputDirection(16), -1);
}

void tst_outputs::batteryLowCheckFile_data()
{
    QTest::addColumn<bool>("enable");
    QTest::addColumn<QByteArray>("old");   // file before; "DIR" makes it a directory
    QTest::addColumn<QByteArray>("bytes"); // file after
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("off") << false << QByteArray("CKB<1>\n") << QByteArray("CKB<0>\n")
                         << QStringList { "HWI: Bat. Chk Off" };
    QTest::newRow("on") << true << QByteArray("CKB<0>\n") << QByteArray("CKB<1>\n")
                        << QStringList { "HWI: Bat. Chk ON" };
    QTest::newRow("on over a longer file") << true << QByteArray("CKB<0>\nleft over\n")
                                           << QByteArray("CKB<1>\n") << QStringList { "HWI: Bat. Chk ON" };
    QTest::newRow("no file yet") << false << QByteArray() << QByteArray("CKB<0>\n")
                                 << QStringList { "HWI: Bat. Chk Off" };
    QTest::newRow("unwritable") << false << QByteArray("DIR") << QByteArray()
                                << QStringList { "HWI: Can't WR Low Bat. Conf. File" };
}

void tst_outputs::batteryLowCheckFile()
{
    QFETCH(bool, enable);
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);

    Bench b;
    b.construct();
    hwcfg_data.batLowCheck = !enable;
    if (old == "DIR")
        b.sys.makeAppDir("lowBatteryConf.txt");
    else if (!old.isNull())
        b.sys.writeAppFile("lowBatteryConf.txt", old);

    QCOMPARE(printed([&] { b.cfg->confBatteryLowCheck(enable); }), lines);
    // The flag changes in memory even when the file cannot be written.
    QCOMPARE(b.cfg->isBatteryLowCheckEnable(), enable);
    if (bytes.isNull())
        return;
    QCOMPARE(b.sys.readAppFile("lowBatteryConf.txt"), bytes);
    // And the next start-up reads it back.
    b.construct();
    QCOMPARE(b.cfg->isBatteryLowCheckEnable(), enable);
}

void tst_outputs::outputsSurviveSaveAndReload()
{
    Bench b;
    b.sys.populate();
    b.construct();
    int result = -1;
    QStringList out = printed([&] {
        b.cfg->confDigiOut(0, 1, 2);
        b.cfg->confDigiOut(1, 0, 2);
        b.cfg->confDigiOut(2, 0, 1);
        b.cfg->confDigiOut(3, 0, 0);
        b.cfg->confDigiOut(15, 1, 2);
        b.cfg->confPWMOut(1, 1);
        b.cfg->confPWMOut(3, 1);
        b.cfg->confAlmOut(2, 1);
        b.cfg->confRs485DirectionPin(1);
        b.cfg->setBackLight(35);
        result = b.cfg->saveHardwareConfig();
    });
    QCOMPARE(result, 0);
    QVERIFY(out.contains("HWI: Conf. Saved"));
    const QVector<int> saved = outputState();

    const QByteArray conf = b.sys.readAppFile("sys_conf.txt");
    const QByteArray wanted[] = { "BLK<035>\n", "DIO<00>H\n", "DIO<01>L\n", "DIO<02>I\n", "DIO<03>U\n",
                                  "DIO<15>H\n", "PWM<0>L\n",  "PWM<1>H\n",  "PWM<3>H\n",  "ALM<01>L\n",
                                  "ALM<02>H\n", "DIR<1>\n" };
    for (const QByteArray &line : wanted)
        QVERIFY2(conf.contains(line), line.constData());

    // Forget everything, then start as the panel would.
    b.sys.writeFile(firstBacklight, "0");
    b.construct();
    QCOMPARE(text(outputState()), text(saved));
    QCOMPARE(hwcfg_data.backlight, 35);
    QCOMPARE(b.sys.readFile(firstBacklight), QByteArray("7"));
    QVERIFY(hwcfg_data.dioFd[2] > 0); // the input channel is read again
}

QTEST_GUILESS_MAIN(tst_outputs)
#include "tst_outputs.moc"
