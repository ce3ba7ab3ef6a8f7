// The hardware configuration store on a temporary sysroot: files, fuse identity, start-up lines, saving,
// and saves that replace their files in one step.

#include "hdw_config.h"
#include "sample_sysroot.h"
#include "stdoutcapture.h"
#include "testsysroot.h"

#include <QtTest>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

static int openDescriptors()
{
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd)
        count += fcntl(fd, F_GETFD) != -1;
    return count;
}

static const QString fusedSerial = QStringLiteral("0214000510000001");
static const QStringList files{ "timezone.cfg", "device_name.txt", "sys_conf.txt", "lowBatteryConf.txt", "version.txt" };
// Start-up lines of a panel without the clock chip and without any of the files.
static const QStringList noFiles{ "HWI: OTP_GP1 0x10005", "HWI: HW ID 16", "HWI: Can't Dev Name.", "HWI: Can't Read Conf.",
                                  "HWI: Can't Read Low Bat. Conf.", "HWI: Bat. Low Chk default on", "HWI: RTC i2c bus error",
                                  "HWI: RTC i2c addr error", "HWI: RTC i2c func error", "No Ext. RTC",
                                  "HWI: SN: " + fusedSerial, "HWI: Can't Read Ver. File" };

// The record's settings that differ from the defaults. DIO: U unused, I input, L/H output, X else.
static QString summary()
{
    const hwcfg_struct &d = hwcfg_data;
    QString dio;
    for (int i = 0; i < 16; ++i)
        dio += d.dioDir[i] == 0 ? 'U' : d.dioDir[i] == 1 ? 'I' : d.dioDir[i] != 2 ? 'X'
            : d.dioLevel[i] == 0 ? 'L' : d.dioLevel[i] == 1 ? 'H' : 'X';
    QStringList fields = QString::asprintf("BLK%d DIO%s PWM%d%d%d%d ALM%d%d COM%d DIR%d ORI%d", d.backlight, qPrintable(dio), d.pwmOut[0],
        d.pwmOut[1], d.pwmOut[2], d.pwmOut[3], d.almOut[0], d.almOut[1], int(d.com0Enabled), d.rs485DirPin, d.orientation).split(' ');
    for (const QString &byDefault : ("BLK50 DIO" + QString(16, 'U') + " PWM0000 ALM00 COM0 DIR0 ORI0").split(' '))
        fields.removeOne(byDefault);
    return fields.join(' ');
}

// Old content, the start of the new, a size limit that stops the new content only, and the result and line
// of a failed and of a good save (timezone.cfg is silent, and false only for the date: a day that does not exist).
struct Conf { QString file; QByteArray old, fresh; rlim_t limit; QString failed, failLine, saveLine; };
static const QVector<Conf> confs{
    { "device_name.txt", "NAM<Old name>\n", "NAM<New name>\n", 4, "-1", "HWI: Can't Write Dev Name.", "HWI: Conf. Saved" },
    { "sys_conf.txt", "BLK<080>\nDIO<00>H\nCOM<0>Y\n", "BLK<035>\nDIO<00>H\nDIO<01>U\n", 20, "-1", "HWI: Can't Write Conf.", "HWI: Conf. Saved" },
    { "lowBatteryConf.txt", "CKB<0>\n", "CKB<1>\n", 3, "", "HWI: Can't WR Low Bat. Conf. File", "HWI: Bat. Chk ON" },
    { "timezone.cfg", "-300", "60", 1, "false", "", "" },
};

class tst_hwconfig : public QObject
{
    Q_OBJECT

    TestSysroot sys;
    std::unique_ptr<HDW_config> cfg;

    QStringList construct() { cfg.reset(); return printedLines([this] { cfg.reset(new HDW_config); }); }
    // What a file decided, as text (a fuse file: the model).
    QString decided(const QString &file) const
    {
        return file.startsWith("sys/") ? QString(cfg->modelNumber())
            : file == "device_name.txt" ? QString(cfg->devName())
            : file == "lowBatteryConf.txt" ? QString(cfg->isBatteryLowCheckEnable() ? "on" : "off")
            : file == "version.txt" ? QString(cfg->firmwareVersion()) + '/' + cfg->devAppVersion()
            : file == "timezone.cfg" ? QString::number(cfg->currentTimeZone()) : summary();
    }

private slots:
    void init()
    {
        sample::writeSysroot(sys.root());
        for (const QString &file : files)
            QFile::remove(sys.appPath(file));
        sys.activate();
        // The saves' debug lines would land among the lines they print.
        QLoggingCategory::setFilterRules(QTest::currentTestFunction() == QByteArray("saves") ? "default.debug=false" : "");
    }
    void cleanup() { cfg.reset(); }

    void construction()
    {
        QCOMPARE(construct(), noFiles);
        const QStringList defaults{ "0", fusedSerial, "", "on", "0.0.0.0/" };
        for (int i = 0; i < files.size(); ++i)
            QCOMPARE(decided(files[i]), defaults[i]);
        // The default level is not pushed to the device.
        QCOMPARE(sys.readFile("sys/class/backlight/backlight2.18/brightness"), QByteArray("10"));
    }

    // One file (null: none): what it decides, its lines among those of a panel without files.
    void readers_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("lines");
        auto row = [](const char *name, const char *file, const QByteArray &content, const QString &value,
                      const QStringList &lines = {}) { QTest::newRow(name) << file << content << value << lines; };
        const char *gp1 = "sys/fsl_otp/HW_OCOTP_GP1", *gp2 = "sys/fsl_otp/HW_OCOTP_GP2";
        row("GP1 week 52 wraps", gp1, "0x00340012\n", "MVK 200", { "HWI: OTP_GP1 0x340012", "HWI: SN: 0115001210000001" });
        row("GP1 saturates", gp1, "0xFFFFFFFF\n", "MVK 200", { "HWI: OTP_GP1 0x7fffffff", "HWI: SN: 4092FFFF10000001" });
        row("GP1 missing", gp1, {}, "MVK 200", { "HWI: OTP_GP1 open Err", "HWI: HW ID -1", "HWI: SN: 0000000000000000" });
        row("GP2 id 1", gp2, "0x01000000\n", "MVK 100", { "HWI: HW ID 1", "HWI: SN: 0214000501000000" });
        row("GP2 id 0, without 0x", gp2, "00abcdef\n", "MVK 100", { "HWI: HW ID 0", "HWI: SN: 0214000500ABCDEF" });
        row("GP2 missing", gp2, {}, "MVK 200", { "HWI: OTP_GP2 open Err", "HWI: HW ID -1", "HWI: SN: 0214000500000000" });

        row("BLK closed, long, short unclosed", "sys_conf.txt", "BLK<80>\nBLK<00060\nBLK<0060", "BLK0",
            { "HWI: Set BkLt 80", "HWI: Set BkLt 60", "HWI: Set BkLt 0" });
        row("PWM", "sys_conf.txt", "PWM<4>H\nPWM<1>H\nPWM<2>H\nPWM<2>L\nPWM<3>X\nPWM<0H\n", "PWM0100");
        row("ALM", "sys_conf.txt", "ALM<01>H\nALM<02>H\nALM<02>L\nALM<03>H\nALM<00>H\nALM<2>H\n", "ALM10");
        row("COM DIR ORI", "sys_conf.txt", "COM<0>Y\nCOM<0>N\nDIR<1>\nORI<1>\nDIR<2>\nORI<7>\n", "COM1 DIR1 ORI1");
        row("ignored", "sys_conf.txt", "BLK<150>\nBLK<-5>\nCOM<1>Y\nDIO<16>H\nDIO<3>H\nDIO<04>X\nDIO<05>\nDI0<06>H\n", "");
        row("DIO codes", "sys_conf.txt", "DIO<00>H\nDIO<01>L\nDIO<02>I\nDIO<03>U\nDIO<15>H\nDIO<14>H\nDIO<14>U\n",
            "DIOHLIUUUUUUUUUUUUH");
        row("empty lines, last without end", "sys_conf.txt", "\n\nDIO<00>L\n\nDIO<07>H", "DIOLUUUUUUHUUUUUUUU");
        row("unknown and long lines echoed", "sys_conf.txt", "UNKNOWN LINE\n" + QByteArray(100, 'x') + "\nXY\n", "",
            { "HWI: UNKNOWN LINE", "", "HWI: " + QString(79, 'x'), "HWI: " + QString(21, 'x'), "", "HWI: XY", "" });

        row("name 40 characters", "device_name.txt", "NAM<" + QByteArray(40, 'n') + ">\n", QString(40, 'n'));
        row("name 41 characters", "device_name.txt", "NAM<" + QByteArray(41, 'n') + ">\n", fusedSerial);

        row("battery on", "lowBatteryConf.txt", "CKB<1>\n", "on", { "HWI: Bat. Low Chk on" });
        row("battery misplaced bracket", "lowBatteryConf.txt", "CKB<00>\n", "on");

        row("version any order", "version.txt", "# build\nAPP<2.0>\nXYZ<9>\nFMW<4.1>", "4.1/2.0",
            { "HWI: OS : 4.1", "HWI: APP: 2.0" });
        row("version later field replaces", "version.txt", "FMW<1>\nFMW<2>\nFMW\nFMW<3\nAPP 4\n", "2/",
            { "HWI: OS : 2", "HWI: APP: " });
        row("version 14 characters kept", "version.txt", "FMW<1234567890abcd>\nAPP<ABCDEFGHIJKLMNOPQRSTUVWXYZ>\n",
            "1234567890abcd/ABCDEFGHIJKLMN", { "HWI: OS : 1234567890abcd", "HWI: APP: ABCDEFGHIJKLMN" });

        row("zone blank, -300, line end", "timezone.cfg", " -300\n", "-300");
        row("zone upper limit", "timezone.cfg", "720", "720");
        row("zone below limit", "timezone.cfg", "-721", "0");
        row("zone stops at zero byte", "timezone.cfg", QByteArray("60\0 junk", 8), "60");
    }
    void readers()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, value);
        QFETCH(QStringList, lines);
        QFile::remove(sys.path(file)); // a fuse file; the others are gone already
        if (!content.isNull())
            file.startsWith("sys/") ? sys.writeFile(file, content) : sys.writeAppFile(file, content);
        if (file == "timezone.cfg")
            QTest::ignoreMessage(QtDebugMsg, "HWI: Rd timezone.cfg");
        if (file == "sys_conf.txt")
            lines << "HWI: Model: MVK 200 Name: " + fusedSerial;
        const int openBefore = openDescriptors();
        QStringList out = construct();
        for (const QString &line : noFiles)
            out.removeOne(line);
        QCOMPARE(out, lines);
        QCOMPARE(decided(file), value);
        // One descriptor per input and the two stat files, none leaked, all closed at the end.
        QCOMPARE(openDescriptors() - openBefore, int(std::count(hwcfg_data.dioDir, hwcfg_data.dioDir + 16, 1)) + 2);
        cfg.reset();
        QCOMPARE(openDescriptors(), openBefore);
    }

    // Settings and calls out of range as the save writes them; the battery-low file rewritten at once.
    void saveAndReload()
    {
        sys.writeAppFile("sys_conf.txt", "BLK<035>\nDIO<00>H\nDIO<01>L\nDIO<02>I\nDIO<15>H\nPWM<0>H\nPWM<2>H\nALM<02>H\n"
                                         "COM<0>Y\nORI<1>\n");
        sys.writeAppFile("lowBatteryConf.txt", "CKB<1>\nleft over\n");
        construct();
        const int input = hwcfg_data.dioFd[2];
        hwcfg_data.dioDir[4] = 2; // values the file has no code for stay out of it
        hwcfg_data.dioLevel[4] = hwcfg_data.pwmOut[1] = hwcfg_data.almOut[0] = -1;
        char name[] = "Press 4";
        int result = -2;
        const QStringList out = printedLines([&] {
            const int dio[][3] = { { 0, 1, 2 }, { 2, 0, 2 }, { 15, 0, 1 }, { 16, 1, 2 }, { -1, 1, 2 } };
            for (const auto &d : dio)
                cfg->confDigiOut(d[0], d[1], d[2]);
            for (int channel : { 3, 4 })
                cfg->confPWMOut(channel, 1);
            for (int alarm : { 2, 0, 3 })
                cfg->confAlmOut(alarm, 1);
            cfg->confRs485DirectionPin(1);
            cfg->confBatteryLowCheck(false);
            cfg->confDeviceName(name);
            result = cfg->saveHardwareConfig();
        });
        QCOMPARE(out, (QStringList{ "HWI: DIO-0-1-2", "HWI: DIO-2-0-2", "HWI: DIO-15-0-1", "HWI: DIO-16 out of range",
                                    "HWI: DIO--1 out of range", "HWI: PWM-3-1", "HWI: PWM-4 out of range", "HWI: ALM-2-1",
                                    "HWI: ALM-0 out of range", "HWI: ALM-3 out of range", "HWI: DIR-1", "HWI: Bat. Chk Off",
                                    "HWI: NAME:Press 4", "HWI: Conf. Saved" }));
        QCOMPARE(result, 0);
        QCOMPARE(fcntl(input, F_GETFD), -1); // the input gave up its descriptor when reconfigured
        QCOMPARE(sys.readAppFile("lowBatteryConf.txt"), QByteArray("CKB<0>\n"));
        QCOMPARE(sys.readAppFile("device_name.txt"), QByteArray("NAM<Press 4>\n"));
        QCOMPARE(sys.readAppFile("sys_conf.txt"), QByteArray("BLK<035>\nDIO<00>H\nDIO<01>L\nDIO<02>L\nDIO<03>U\n"
            "DIO<05>U\nDIO<06>U\nDIO<07>U\nDIO<08>U\nDIO<09>U\nDIO<10>U\nDIO<11>U\nDIO<12>U\nDIO<13>U\nDIO<14>U\n"
            "DIO<15>I\nPWM<0>H\nPWM<2>H\nPWM<3>H\nALM<02>H\nCOM<0>Y\nDIR<1>\nORI<1>\n"));
        construct();
        QCOMPARE(summary() + '|' + cfg->devName(), QString("BLK35 DIOHLLUUUUUUUUUUUUI PWM1011 ALM01 COM1 DIR1 ORI1|Press 4"));

        // An empty name leaves an empty file; the serial number names the panel again.
        name[0] = '\0';
        printedLines([&] { cfg->confDeviceName(name); cfg->saveHardwareConfig(); });
        QCOMPARE(sys.readAppFile("device_name.txt"), QByteArray());
        construct();
        QCOMPARE(QString(cfg->devName()), fusedSerial);
    }

    // A failed save, or a process dying in one, leaves the old file as it was,
    // and every save keeps the file's symbolic link and permissions.
    void saves_data()
    {
        QTest::addColumn<int>("conf");
        QTest::addColumn<QString>("fault"); // refused: a full disk; killed: a crash while writing; directory: no rename
        for (const char *fault : { "none", "refused", "killed", "directory" })
            for (int i = 0; i < confs.size(); ++i)
                QTest::addRow("%s, %s", qPrintable(confs[i].file), fault) << i << QString(fault);
    }

    void saves()
    {
        QFETCH(int, conf);
        QFETCH(QString, fault);
        const Conf &c = confs[conf];
        // The file lives elsewhere with an unusual mode, its name a link to it; or a directory stands there.
        const QString stored = fault == "directory" ? c.file + "/kept" : "persist/" + c.file;
        const auto mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
        TestSysroot own; // a row leaves links, a directory and a file mode behind
        for (const Conf &each : confs)
            own.writeAppFile(each.file == c.file ? stored : each.file, each.old);
        QVERIFY(fault == "directory" || (QFile::link(stored, own.appPath(c.file)) && QFile::setPermissions(own.appPath(stored), mode)));
        own.activate();
        hwcfg_data = hwcfg_struct();
        const auto cfg = std::make_unique<HDW_config>();
        qstrncpy(hwcfg_data.devName, "New name", sizeof hwcfg_data.devName);
        hwcfg_data.backlight = 35;
        QString text = QStringLiteral("2024-02-30 13:05:07:250 60"), got;
        const auto save = [&] {
            if (c.file == "lowBatteryConf.txt")
                cfg->confBatteryLowCheck(true);
            else
                got = c.file == "timezone.cfg" ? (cfg->setExternalRTC(true, true, &text) ? "true" : "false") : QString::number(cfg->saveHardwareConfig());
        };
        struct rlimit fileSize {};
        getrlimit(RLIMIT_FSIZE, &fileSize);
        const auto limitFileSize = [&](rlim_t bytes) { fileSize.rlim_cur = bytes; setrlimit(RLIMIT_FSIZE, &fileSize); };
        const auto entries = [&](const QString &dir) { return QDir(own.appPath(dir)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System); };
        const QStringList before = entries(QString());

        if (fault == "killed") {
            const pid_t child = fork();
            if (child == 0) { // writing past the limit ends the process at once, as a crash would
                signal(SIGXFSZ, [](int) { _exit(3); });
                limitFileSize(c.limit);
                save();
                _exit(0);
            }
            int status = 0;
            QVERIFY(child > 0 && waitpid(child, &status, 0) == child);
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 3, qPrintable(QString::number(status)));
        } else { // a write past the limit fails with an error instead (and cuts the capture short)
            void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
            const QStringList out = printedLines([&] {
                limitFileSize(fault == "refused" ? c.limit : RLIM_INFINITY);
                save();
                limitFileSize(RLIM_INFINITY);
            });
            signal(SIGXFSZ, oldHandler);
            QVERIFY2(fault == "refused" || out.join('|') == (fault == "none" ? c.saveLine : c.failLine), qPrintable(out.join('|')));
            QVERIFY2(fault == "none" || got == c.failed, qPrintable(got));
            QCOMPARE(entries(QString()), before); // no temporary file, no other name
            QCOMPARE(entries(QFileInfo(stored).path()), QStringList{ QFileInfo(stored).fileName() });
        }
        const QByteArray now = own.readAppFile(stored);
        QVERIFY2(fault == "none" ? now.startsWith(c.fresh) : now == c.old, now.constData());
        QVERIFY(fault == "directory" || QFileInfo(own.appPath(c.file)).symLinkTarget() == own.appPath(stored));
        QVERIFY(fault == "directory" || (QFile::permissions(own.appPath(stored)) & 0x7077) == mode); // Qt's "user" bits repeat the owner's
        if (c.file == "sys_conf.txt") // a failed configuration file does not undo the name saved before it
            QCOMPARE(own.readAppFile("device_name.txt"), confs[0].fresh);
    }
};

QTEST_GUILESS_MAIN(tst_hwconfig)
#include "tst_hwconfig.moc"
