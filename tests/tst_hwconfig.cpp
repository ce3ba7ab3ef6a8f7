// The hardware configuration store, in process on a temporary sysroot: the
// configuration files, the fuse identity, saving, and the start-up lines.

#include "hdw_config.h"
#include "stdoutcapture.h"
#include "testsysroot.h"

#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

class HardwareProbe
{
public:
    static int timeZone(const HDW_config &c) { return c.timeZoneOffset; }
    // Runs the reader of one configuration file again.
    static void read(HDW_config &c, const QString &file)
    {
        if (file == "timezone.cfg")
            c.readTimeZoneFile();
        else if (file == "device_name.txt")
            c.readDeviceNameFile();
        else if (file == "sys_conf.txt")
            c.readSysConfFile();
        else if (file == "lowBatteryConf.txt")
            c.readLowBatteryFile();
        else
            c.readVersionFile();
    }
};

static int openDescriptors()
{
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd)
        count += fcntl(fd, F_GETFD) != -1;
    return count;
}

static const QString fusedSerial = QStringLiteral("0214000510000001");
static const QString defaults = QStringLiteral("BLK50 DIOUUUUUUUUUUUUUUUU PWM0000 ALM00 COM0 DIR0 ORI0");

// The record's settings in one comparable line. DIO: U unused, I input,
// i input holding level 1, L/H output low/high, X anything else.
static QString summary()
{
    const hwcfg_struct &d = hwcfg_data;
    QString dio, pwm, alm;
    for (int i = 0; i < 16; ++i) {
        const int dir = d.dioDir[i], level = d.dioLevel[i];
        dio += dir == 0 ? 'U' : dir == 1 ? (level ? 'i' : 'I')
            : dir == 2 && (level == 0 || level == 1) ? (level ? 'H' : 'L') : 'X';
    }
    for (int v : d.pwmOut)
        pwm += QString::number(v);
    for (int v : d.almOut)
        alm += QString::number(v);
    return QStringLiteral("BLK%1 DIO%2 PWM%3 ALM%4 COM%5 DIR%6 ORI%7").arg(d.backlight)
        .arg(dio, pwm, alm).arg(int(d.com0Enabled)).arg(d.rs485DirPin).arg(d.orientation);
}

// The inverse of summary(); X stands for direction 3.
static void setRecord(const QString &s)
{
    hwcfg_struct &d = hwcfg_data;
    const QStringList f = s.split(' ');
    d.backlight = f[0].mid(3).toInt();
    for (int i = 0; i < 16; ++i) {
        const QChar c = f[1][3 + i];
        d.dioDir[i] = c == 'U' ? 0 : c.toUpper() == 'I' ? 1 : c == 'X' ? 3 : 2;
        d.dioLevel[i] = c == 'i' || c == 'H';
    }
    for (int i = 0; i < 4; ++i)
        d.pwmOut[i] = f[2][3 + i].digitValue();
    for (int i = 0; i < 2; ++i)
        d.almOut[i] = f[3][3 + i].digitValue();
    d.com0Enabled = f[4].mid(3).toInt();
    d.rs485DirPin = f[5].mid(3).toInt();
    d.orientation = f[6].mid(3).toInt();
}

class tst_hwconfig : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSysroot> sys;
    std::unique_ptr<HDW_config> cfg;
    bool reusable = false;

    // A fresh panel; populated means fuses, backlight, GPIO and /proc files.
    void makePanel(bool populated)
    {
        cfg.reset();
        sys.reset(new TestSysroot);
        reusable = false;
        if (populated) {
            sys->populate();
            sys->writeFile(QStringLiteral("proc/%1/stat").arg(QCoreApplication::applicationPid()),
                           "1 (kvx) S 0 0 0 0 -1 0 0 0 0 0 5 3 0 0 20 0 1 0 1 0 0\n");
        }
        sys->activate();
    }
    // A populated panel without configuration files, kept from row to row
    // (making a sysroot costs more than all the rest of a row).
    void populatedPanel()
    {
        if (!sys || !reusable)
            makePanel(true);
        reusable = true;
        for (const char *file : { "timezone.cfg", "device_name.txt", "sys_conf.txt",
                                  "lowBatteryConf.txt", "version.txt" })
            QFile::remove(sys->appPath(file));
    }
    QStringList construct(bool resetRecord = true)
    {
        cfg.reset();
        if (resetRecord) // a previous construction left its values
            hwcfg_data = hwcfg_struct();
        return printedLines([this] { cfg.reset(new HDW_config); });
    }

private slots:
    void cleanup() { cfg.reset(); }

    void defaultsWithoutFiles_data()
    {
        QTest::addColumn<bool>("populated");
        QTest::addColumn<QString>("serial");
        QTest::newRow("fuses readable") << true << fusedSerial;
        QTest::newRow("fuses unreadable") << false << "0000000000000000";
    }
    void defaultsWithoutFiles()
    {
        QFETCH(bool, populated);
        QFETCH(QString, serial);
        makePanel(populated);
        // Stale values everywhere: the constructor must replace them all.
        hwcfg_struct &d = hwcfg_data;
        memset(d.dioDir, 0x11, sizeof d.dioDir);
        memset(d.dioLevel, 0x11, sizeof d.dioLevel);
        memset(d.pwmOut, 0x11, sizeof d.pwmOut);
        memset(d.almOut, 0x11, sizeof d.almOut);
        d.backlight = d.rs485DirPin = d.orientation = 7;
        d.com0Enabled = true;
        d.batLowCheck = false;
        qstrncpy(d.appVersion, "stale", sizeof d.appVersion);
        qstrncpy(d.physicalAddress, "stale", sizeof d.physicalAddress);
        construct(false);
        QCOMPARE(summary(), defaults);
        QCOMPARE(QString(cfg->readSerialNo()), serial);
        QCOMPARE(QString(cfg->devName()), serial);
        QCOMPARE(QString(cfg->modelNumber()), QString("MVK 200"));
        QCOMPARE(QString(cfg->firmwareVersion()), QString("0.0.0.0"));
        QCOMPARE(QString(cfg->devAppVersion()), QString());
        QCOMPARE(QString(cfg->readPhysicalAddress()), QString("00:00:00:00:00:00"));
        QVERIFY(cfg->isBatteryLowCheckEnable());
        QCOMPARE(HardwareProbe::timeZone(*cfg), 0);
        QCOMPARE(cfg->property("number_of_adc").toInt(), 0);
        for (int fd : d.dioFd)
            QCOMPARE(fd, 0);
        if (populated) // the default level is not pushed to the hardware
            QCOMPARE(sys->readFile("sys/class/backlight/backlight2.18/brightness"), QByteArray("10"));
    }

    void fuses_data()
    {
        QTest::addColumn<QByteArray>("gp1"); // null: no such file
        QTest::addColumn<QByteArray>("gp2");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("week 2, id 16") << QByteArray("0x00010005\n") << QByteArray("0x10000001\n")
            << fusedSerial << "MVK 200" << QStringList{ "HWI: OTP_GP1 0x10005", "HWI: HW ID 16" };
        QTest::newRow("week 52 wraps, id 1") << QByteArray("0x00340012\n") << QByteArray("0x01000000\n")
            << "0115001201000000" << "MVK 100" << QStringList{ "HWI: OTP_GP1 0x340012", "HWI: HW ID 1" };
        QTest::newRow("id 0, no 0x") << QByteArray("00670001\n") << QByteArray("00abcdef\n")
            << "5215000100ABCDEF" << "MVK 100" << QStringList{ "HWI: OTP_GP1 0x670001", "HWI: HW ID 0" };
        QTest::newRow("top bit set saturates") << QByteArray("0xFFFFFFFF\n") << QByteArray("0x80000001\n")
            << "4092FFFF7FFFFFFF" << "MVK 200" << QStringList{ "HWI: OTP_GP1 0x7fffffff", "HWI: HW ID 127" };
        QTest::newRow("no GP1, GP2 not read") << QByteArray() << QByteArray("0x10000001\n")
            << "0000000000000000" << "MVK 200" << QStringList{ "HWI: OTP_GP1 open Err", "HWI: HW ID -1" };
        QTest::newRow("GP1 empty") << QByteArray("") << QByteArray("0x10000001\n")
            << "0000000010000001" << "MVK 200" << QStringList{ "HWI: OTP_GP1 read Err", "HWI: HW ID 16" };
        QTest::newRow("no GP2") << QByteArray("0x00010005\n") << QByteArray() << "0214000500000000"
            << "MVK 200" << QStringList{ "HWI: OTP_GP1 0x10005", "HWI: OTP_GP2 open Err", "HWI: HW ID -1" };
        QTest::newRow("GP2 empty") << QByteArray("0x00010005\n") << QByteArray("") << "0214000500000000"
            << "MVK 200" << QStringList{ "HWI: OTP_GP1 0x10005", "HWI: OTP_GP2 read Err", "HWI: HW ID -1" };
    }
    void fuses()
    {
        QFETCH(QByteArray, gp1);
        QFETCH(QByteArray, gp2);
        QFETCH(QString, serial);
        QFETCH(QString, model);
        QFETCH(QStringList, lines);
        makePanel(false);
        if (!gp1.isNull())
            sys->writeFile("sys/fsl_otp/HW_OCOTP_GP1", gp1);
        if (!gp2.isNull())
            sys->writeFile("sys/fsl_otp/HW_OCOTP_GP2", gp2);
        QCOMPARE(construct().mid(0, lines.size()), lines);
        QCOMPARE(QString(cfg->readSerialNo()), serial);
        QCOMPARE(QString(cfg->modelNumber()), model);
    }

    void startupLines_data()
    {
        QTest::addColumn<bool>("withFiles");
        QTest::addColumn<QStringList>("expected");
        const QStringList rtcAbsent{ "HWI: RTC i2c bus error", "HWI: RTC i2c addr error",
                                     "HWI: RTC i2c func error", "No Ext. RTC" };
        QTest::newRow("no files") << false
            << QStringList{ "HWI: OTP_GP1 0x10005", "HWI: HW ID 16", "HWI: Can't Dev Name.",
                            "HWI: Can't Read Conf.", "HWI: Can't Read Low Bat. Conf.",
                            "HWI: Bat. Low Chk default on" }
                   + rtcAbsent + QStringList{ "HWI: SN: " + fusedSerial, "HWI: Can't Read Ver. File" };
        QTest::newRow("all files") << true
            << QStringList{ "HWI: OTP_GP1 0x10005", "HWI: HW ID 16", "HWI: Set BkLt 80",
                            "HWI: bogus line", "", "HWI: Model: MVK 200 Name: Press 4",
                            "HWI: Bat. Low Chk Off" }
                   + rtcAbsent + QStringList{ "HWI: SN: " + fusedSerial, "HWI: OS : 3.0.2.1", "HWI: APP: 1.7" };
    }
    void startupLines()
    {
        QFETCH(bool, withFiles);
        QFETCH(QStringList, expected);
        populatedPanel();
        if (withFiles) {
            sys->writeAppFile("timezone.cfg", "-60");
            sys->writeAppFile("device_name.txt", "NAM<Press 4>\n");
            sys->writeAppFile("sys_conf.txt", "BLK<080>\nbogus line\nDIO<00>H\n");
            sys->writeAppFile("lowBatteryConf.txt", "CKB<0>\n");
            sys->writeAppFile("version.txt", "FMW<3.0.2.1>\nAPP<1.7>\n");
            QTest::ignoreMessage(QtDebugMsg, "HWI: Rd timezone.cfg");
        }
        QCOMPARE(construct(), expected);
        QCOMPARE(HardwareProbe::timeZone(*cfg), withFiles ? -60 : 0);
    }

    void sysConf_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("record");
        QTest::addColumn<QStringList>("lines");
        auto row = [](const char *name, const QByteArray &content, const QString &record,
                      const QStringList &lines = {}) { QTest::newRow(name) << content << record << lines; };
        const QString u16(16, 'U');
        row("BLK 3 digits", "BLK<080>\n", "BLK80 DIO" + u16 + " PWM0000 ALM00 COM0 DIR0 ORI0", { "HWI: Set BkLt 80" });
        row("BLK 2 digits", "BLK<80>\n", "BLK80 DIO" + u16 + " PWM0000 ALM00 COM0 DIR0 ORI0", { "HWI: Set BkLt 80" });
        row("BLK 4 characters, no bracket", "BLK<0050", "BLK0 DIO" + u16 + " PWM0000 ALM00 COM0 DIR0 ORI0", { "HWI: Set BkLt 0" });
        row("BLK 5 characters, no bracket", "BLK<00050", "BLK50 DIO" + u16 + " PWM0000 ALM00 COM0 DIR0 ORI0", { "HWI: Set BkLt 50" });
        row("BLK unclosed at end", "BLK<80", "BLK0 DIO" + u16 + " PWM0000 ALM00 COM0 DIR0 ORI0", { "HWI: Set BkLt 0" });
        row("BLK out of range", "BLK<150>\nBLK<-5>\n", defaults);
        row("PWM", "PWM<4>H\nPWM<1>H\nPWM<2>H\nPWM<2>L\nPWM<3>X\nPWM<0H\n",
            "BLK50 DIO" + u16 + " PWM0100 ALM00 COM0 DIR0 ORI0");
        row("ALM", "ALM<01>H\nALM<02>H\nALM<02>L\nALM<03>H\nALM<00>H\nALM<2>H\n",
            "BLK50 DIO" + u16 + " PWM0000 ALM10 COM0 DIR0 ORI0");
        row("COM DIR ORI set", "COM<0>Y\nCOM<0>N\nDIR<1>\nORI<1>\n", "BLK50 DIO" + u16 + " PWM0000 ALM00 COM1 DIR1 ORI1");
        row("COM DIR ORI ignored", "COM<1>Y\nDIR<2>\nORI<7>\n", defaults);
        row("DIO codes", "DIO<00>H\nDIO<01>L\nDIO<02>I\nDIO<03>U\nDIO<15>H\nDIO<14>H\nDIO<14>U\n",
            "BLK50 DIOHLIUUUUUUUUUUUUH PWM0000 ALM00 COM0 DIR0 ORI0");
        row("DIO ignored", "DIO<16>H\nDIO<3>H\nDIO<04>X\nDIO<05>\nDI0<06>H\n", defaults);
        row("DIO input twice", "DIO<04>I\nDIO<04>I\n", "BLK50 DIOUUUUIUUUUUUUUUUU PWM0000 ALM00 COM0 DIR0 ORI0");
        row("last line without end", "DIO<07>H", "BLK50 DIOUUUUUUUHUUUUUUUU PWM0000 ALM00 COM0 DIR0 ORI0");
        row("empty lines skipped", "\n\nDIO<00>L\n\n", "BLK50 DIOLUUUUUUUUUUUUUUU PWM0000 ALM00 COM0 DIR0 ORI0");
        row("unknown lines echoed", "UNKNOWN LINE\nXY\n", defaults, { "HWI: UNKNOWN LINE", "", "HWI: XY", "" });
        row("long line read in pieces", QByteArray(100, 'x') + '\n', defaults,
            { "HWI: " + QString(79, 'x'), "HWI: " + QString(21, 'x'), "" });
    }
    void sysConf()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, record);
        QFETCH(QStringList, lines);
        populatedPanel();
        construct();
        sys->writeAppFile("sys_conf.txt", content);
        const int openBefore = openDescriptors();
        const QStringList out = printedLines([this] { HardwareProbe::read(*cfg, "sys_conf.txt"); });
        QCOMPARE(out, lines + QStringList{ "HWI: Model: MVK 200 Name: " + fusedSerial });
        QCOMPARE(summary(), record);
        // Exactly one descriptor per input stays open: none leaked, none closed.
        int inputs = 0;
        for (int i = 0; i < 16; ++i) {
            QCOMPARE(hwcfg_data.dioFd[i] > 0, hwcfg_data.dioDir[i] == 1);
            inputs += hwcfg_data.dioDir[i] == 1;
        }
        QCOMPARE(openDescriptors() - openBefore, inputs);
    }

    // The single-line files, each read again on a constructed object. The
    // value column is what the file decides: the name, the battery-low
    // check (started from off, so only the reader can turn it on), the two
    // versions, or the time-zone offset.
    void smallFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // null: no such file
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("lines");
        auto row = [](const char *name, const char *file, const QByteArray &content,
                      const QString &value, const QStringList &lines = {}) {
            QTest::newRow(name) << file << content << value << lines;
        };
        const char *dev = "device_name.txt";
        row("name", dev, "NAM<Press 4>\n", "Press 4");
        row("name empty field", dev, "NAM<>\n", "");
        row("name 40 characters", dev, "NAM<" + QByteArray(40, 'n') + ">\n", QString(40, 'n'));
        row("name 41 characters", dev, "NAM<" + QByteArray(41, 'n') + ">\n", fusedSerial);
        row("name without line end", dev, "NAM<abc>", "abc");
        row("name unclosed", dev, "NAM<abc\n", fusedSerial);
        row("name blank before field", dev, "NAM <abc>\n", fusedSerial);
        row("name only on first line", dev, "\nNAM<abc>\n", fusedSerial);
        row("name missing", dev, QByteArray(), fusedSerial, { "HWI: Can't Dev Name." });

        const char *bat = "lowBatteryConf.txt";
        row("battery off", bat, "CKB<0>\n", "off", { "HWI: Bat. Low Chk Off" });
        row("battery on", bat, "CKB<1>\n", "on", { "HWI: Bat. Low Chk on" });
        row("battery other value", bat, "CKB<2>\n", "off");
        row("battery misplaced bracket", bat, "CKB<11>\n", "off");
        row("battery empty", bat, "", "off");
        row("battery missing", bat, QByteArray(), "on",
            { "HWI: Can't Read Low Bat. Conf.", "HWI: Bat. Low Chk default on" });

        const char *ver = "version.txt";
        row("version both", ver, "FMW<4.1.0.2>\nAPP<2.0>\n", "4.1.0.2/2.0", { "HWI: OS : 4.1.0.2", "HWI: APP: 2.0" });
        row("version any order", ver, "# build\nAPP<2.0>\nXYZ<9>\nFMW<4.1>", "4.1/2.0",
            { "HWI: OS : 4.1", "HWI: APP: 2.0" });
        row("version later replaces", ver, "FMW<1>\nFMW<2>\n", "2/", { "HWI: OS : 2", "HWI: APP: " });
        row("version missing field", ver, "FMW<1>\nFMW\nFMW<2\nAPP 3\n", "1/", { "HWI: OS : 1", "HWI: APP: " });
        row("version 14 characters", ver, "FMW<1234567890abcd>\n", "1234567890abcd/",
            { "HWI: OS : 1234567890abcd", "HWI: APP: " });
        row("version longer keeps 14", ver, "FMW<1234567890abcdefgh>\nAPP<ABCDEFGHIJKLMNOPQRSTUVWXYZ>\n",
            "1234567890abcd/ABCDEFGHIJKLMN", { "HWI: OS : 1234567890abcd", "HWI: APP: ABCDEFGHIJKLMN" });
        row("version missing", ver, QByteArray(), "0.0.0.0/", { "HWI: Can't Read Ver. File" });

        const char *tz = "timezone.cfg";
        row("zone blank, -300, line end", tz, " -300\n", "-300");
        row("zone upper limit", tz, "720", "720");
        row("zone lower limit", tz, "-720", "-720");
        row("zone above limit", tz, "721", "0");
        row("zone below limit", tz, "-721", "0");
        row("zone not a number", tz, "abc", "0");
        row("zone stops at zero byte", tz, QByteArray("60\0 junk", 8), "60");
        row("zone empty", tz, "", "0");
        row("zone missing", tz, QByteArray(), "0");
    }
    void smallFiles()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, value);
        QFETCH(QStringList, lines);
        populatedPanel();
        construct();
        if (!content.isNull())
            sys->writeAppFile(file, content);
        hwcfg_data.batLowCheck = false;
        if (file == "timezone.cfg" && !content.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, "HWI: Rd timezone.cfg");
        QCOMPARE(printedLines([&] { HardwareProbe::read(*cfg, file); }), lines);
        const QString result = file == "device_name.txt" ? QString(cfg->devName())
            : file == "lowBatteryConf.txt" ? QString(cfg->isBatteryLowCheckEnable() ? "on" : "off")
            : file == "version.txt" ? QString(cfg->firmwareVersion()) + '/' + cfg->devAppVersion()
            : QString::number(HardwareProbe::timeZone(*cfg));
        QCOMPARE(result, value);
    }

    void saveAndReload_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("sysConf");
        QTest::addColumn<QString>("reloaded");
        QTest::addColumn<QString>("reloadedName");
        QByteArray unused;
        for (int i = 2; i < 15; ++i)
            unused += QString::asprintf("DIO<%02d>U\n", i).toLatin1();
        QTest::newRow("every code") << "BLK35 DIOHLiUUUUUUUUUUUUH PWM1010 ALM01 COM1 DIR1 ORI1" << "Press 4"
            << "BLK<035>\nDIO<00>H\nDIO<01>L\nDIO<02>I\n" + unused.mid(9) + "DIO<15>H\n"
                   "PWM<0>H\nPWM<1>L\nPWM<2>H\nPWM<3>L\nALM<01>L\nALM<02>H\nCOM<0>Y\nDIR<1>\nORI<1>\n"
            << "BLK35 DIOHLIUUUUUUUUUUUUH PWM1010 ALM01 COM1 DIR1 ORI1" << "Press 4";
        QTest::newRow("unknown codes, empty name") << "BLK0 DIOXXUUUUUUUUUUUUUU PWM2000 ALM05 COM0 DIR2 ORI3"
            << "" << "BLK<000>\n" + unused + "DIO<15>U\nPWM<1>L\nPWM<2>L\nPWM<3>L\nALM<01>L\nCOM<0>N\n"
            << "BLK0 DIO" + QString(16, 'U') + " PWM0000 ALM00 COM0 DIR0 ORI0" << fusedSerial;
    }
    void saveAndReload()
    {
        QFETCH(QString, record);
        QFETCH(QString, name);
        QFETCH(QByteArray, sysConf);
        QFETCH(QString, reloaded);
        QFETCH(QString, reloadedName);
        populatedPanel();
        construct();
        setRecord(record);
        QByteArray nameBytes = name.toLatin1();
        int result = -2;
        const QStringList out = printedLines([&] {
            cfg->confDeviceName(nameBytes.data());
            result = cfg->saveHardwareConfig();
        });
        QCOMPARE(result, 0);
        QCOMPARE(out, (QStringList{ "HWI: NAME:" + name, "HWI: Conf. Saved" }));
        QCOMPARE(sys->readAppFile("sys_conf.txt"), sysConf);
        QCOMPARE(sys->readAppFile("device_name.txt"), name.isEmpty() ? QByteArray() : "NAM<" + nameBytes + ">\n");

        construct();
        QCOMPARE(summary(), reloaded);
        QCOMPARE(QString(cfg->devName()), reloadedName);
        // The object owns the descriptors of its inputs and closes them.
        QVector<int> inputs;
        for (int i = 0; i < 16; ++i)
            if (hwcfg_data.dioDir[i] == 1)
                inputs << hwcfg_data.dioFd[i];
        cfg.reset();
        for (int fd : inputs) {
            QVERIFY(fd > 0);
            QCOMPARE(fcntl(fd, F_GETFD), -1);
        }
    }

    void saveFailures_data()
    {
        QTest::addColumn<QString>("blocked"); // made a directory
        QTest::addColumn<int>("sizeLimit");   // bytes any file may hold, 0: no limit
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("nameWritten");
        QTest::newRow("name not writable") << "device_name.txt" << 0 << "HWI: Can't Write Dev Name." << false;
        QTest::newRow("configuration not writable") << "sys_conf.txt" << 0 << "HWI: Can't Write Conf." << true;
        QTest::newRow("configuration write fails") << "" << 100 << "HWI: Can't Write Conf." << true;
    }
    void saveFailures()
    {
        QFETCH(QString, blocked);
        QFETCH(int, sizeLimit);
        QFETCH(QString, line);
        QFETCH(bool, nameWritten);
        makePanel(true);
        construct();
        if (!blocked.isEmpty())
            sys->makeAppDir(blocked);
        struct rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
        int result = 0;
        const QStringList out = printedLines([&] {
            struct rlimit limited = old;
            if (sizeLimit)
                limited.rlim_cur = static_cast<rlim_t>(sizeLimit);
            setrlimit(RLIMIT_FSIZE, &limited);
            result = cfg->saveHardwareConfig();
            setrlimit(RLIMIT_FSIZE, &old);
        });
        signal(SIGXFSZ, oldHandler);
        QCOMPARE(result, -1);
        QCOMPARE(out, QStringList{ line });
        QCOMPARE(sys->readAppFile("device_name.txt"), nameWritten ? "NAM<" + fusedSerial.toLatin1() + ">\n" : QByteArray());
    }
};

QTEST_GUILESS_MAIN(tst_hwconfig)
#include "tst_hwconfig.moc"
