// The hardware configuration store on a temporary sysroot: files, fuse identity, start-up lines, saving,
// saves that replace their files in one step; the clock chip driver against a register image, and the
// date, time and zone the host sets.

#include "hdw_config.h"
#include "stdoutcapture.h"
#include "testsysroot.h"

#include <QtTest>
#include <algorithm>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

static QByteArray image(const QByteArray &hex) { return QByteArray::fromHex(hex).leftJustified(256, '\0'); }
static void zone(const char *tz) { qputenv("TZ", tz); tzset(); }

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

    std::unique_ptr<TestSysroot> sys;
    std::unique_ptr<HDW_config> cfg;

    QStringList construct() { cfg.reset(); return printedLines([this] { cfg.reset(new HDW_config); }); }
    // A fresh panel; the chip appears after construction, which left the bus alone.
    QStringList startChip(const QByteArray &regs)
    {
        construct();
        sys->writeFile("dev/i2c-2", regs);
        return printedLines([this] { cfg->init_ExternalRTC(); });
    }
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
        sys = std::make_unique<TestSysroot>(); // none of the application's files, no clock chip
        sys->activate();
        zone("UTC");
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
        QCOMPARE(sys->readFile("sys/class/backlight/backlight2.18/brightness"), QByteArray("10"));
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
        QFile::remove(sys->path(file)); // a fuse file; the others are gone already
        if (!content.isNull())
            file.startsWith("sys/") ? sys->writeFile(file, content) : sys->writeAppFile(file, content);
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
        sys->writeAppFile("sys_conf.txt", "BLK<035>\nDIO<00>H\nDIO<01>L\nDIO<02>I\nDIO<15>H\nPWM<0>H\nPWM<2>H\nALM<02>H\n"
                                         "COM<0>Y\nORI<1>\n");
        sys->writeAppFile("lowBatteryConf.txt", "CKB<1>\nleft over\n");
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
        QCOMPARE(sys->readAppFile("lowBatteryConf.txt"), QByteArray("CKB<0>\n"));
        QCOMPARE(sys->readAppFile("device_name.txt"), QByteArray("NAM<Press 4>\n"));
        QCOMPARE(sys->readAppFile("sys_conf.txt"), QByteArray("BLK<035>\nDIO<00>H\nDIO<01>L\nDIO<02>L\nDIO<03>U\n"
            "DIO<05>U\nDIO<06>U\nDIO<07>U\nDIO<08>U\nDIO<09>U\nDIO<10>U\nDIO<11>U\nDIO<12>U\nDIO<13>U\nDIO<14>U\n"
            "DIO<15>I\nPWM<0>H\nPWM<2>H\nPWM<3>H\nALM<02>H\nCOM<0>Y\nDIR<1>\nORI<1>\n"));

        // An empty name leaves an empty file; the serial number names the panel again.
        name[0] = '\0';
        printedLines([&] { cfg->confDeviceName(name); cfg->saveHardwareConfig(); });
        QCOMPARE(sys->readAppFile("device_name.txt"), QByteArray());
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
        for (const Conf &each : confs)
            sys->writeAppFile(each.file == c.file ? stored : each.file, each.old);
        QVERIFY(fault == "directory" || (QFile::link(stored, sys->appPath(c.file)) && QFile::setPermissions(sys->appPath(stored), mode)));
        construct();
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
        const auto entries = [&](const QString &dir) { return QDir(sys->appPath(dir)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System); };
        const QStringList before = entries(QString());
        signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with an error (and cuts a capture short)
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
        } else {
            const QStringList out = printedLines([&] {
                limitFileSize(fault == "refused" ? c.limit : RLIM_INFINITY);
                save();
                limitFileSize(RLIM_INFINITY);
            });
            QVERIFY2(fault == "refused" || out.join('|') == (fault == "none" ? c.saveLine : c.failLine), qPrintable(out.join('|')));
            QVERIFY2(fault == "none" || got == c.failed, qPrintable(got));
            QCOMPARE(entries(QString()), before); // no temporary file, no other name
            QCOMPARE(entries(QFileInfo(stored).path()), QStringList{ QFileInfo(stored).fileName() });
        }
        const QByteArray now = sys->readAppFile(stored);
        QVERIFY2(fault == "none" ? now.startsWith(c.fresh) : now == c.old, now.constData());
        QVERIFY(fault == "directory" || QFileInfo(sys->appPath(c.file)).symLinkTarget() == sys->appPath(stored));
        QVERIFY(fault == "directory" || (QFile::permissions(sys->appPath(stored)) & 0x7077) == mode); // Qt's "user" bits repeat the owner's
        if (c.file == "sys_conf.txt") // a failed configuration file does not undo the name saved before it
            QCOMPARE(sys->readAppFile("device_name.txt"), confs[0].fresh);
    }

    void lowBatteryStartAndCheck()
    {
        auto control = [this] { return (sys->clockRegisters().left(5) + sys->clockRegisters().mid(0x18, 2)).toHex(' '); };
        QCOMPARE(startChip(image("080102045a")), (QStringList{ "+++RTC", "RTC: BatLow show every: 43200s" }));
        // Control, flags, status, and a 12-hour countdown (21600 = 0x5460 ticks, low byte first) at 0x18.
        QCOMPARE(control(), QByteArray("6a 03 00 00 5a 60 54"));
        // While the chip is there, the battery check runs once a minute.
        QTimer *timer = cfg->findChild<QTimer *>();
        QVERIFY(timer && timer->isActive());
        QVERIFY(disconnect(timer, &QTimer::timeout, cfg.get(), &HDW_config::checkBatteryLow));

        QSignalSpy warned(cfg.get(), SIGNAL(ExternalRTCLowBat()));
        QCOMPARE(printedLines([this] { cfg->checkBatteryLow(); }), (QStringList{ "Chk Bty", "RTC: 1st LowBat" }));
        // The countdown ran out: the flag is up, the start value counted away.
        QByteArray regs = sys->clockRegisters();
        regs[0x02] = 0x02;
        regs[0x18] = regs[0x19] = 0;
        sys->writeFile("dev/i2c-2", regs);
        hwcfg_data.batLowCheck = false;
        QCOMPARE(printedLines([this] { cfg->checkBatteryLow(); }), QStringList());
        hwcfg_data.batLowCheck = true;
        // The first warning came once only, the reminder comes now.
        QCOMPARE(printedLines([this] { cfg->checkBatteryLow(); }), (QStringList{ "Chk Bty", "RTC: LowBat Remind" }));
        QCOMPARE(warned.count(), 2);
        // Re-armed for 12 hours: 0.5 Hz clock, timer and its interrupt on, flag down.
        QCOMPARE(control(), QByteArray("6a 03 00 00 5a 60 54"));
    }

    // The host's date-time text and time-zone offset; with a chip whose battery-low countdown ran down,
    // the registers after (0x00..0x03 and 0x18..0x19: the block reset to F9 00 00 20, the EEPROM unlock
    // leaving control 1 at 99) when the console resets the reminder, or not, or the check is off.
    void setDateTime_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("result"); // the clock is set
        QTest::addColumn<int>("offset");  // 30: unchanged, no file, no signal
        QTest::addColumn<QString>("chip"); // none, or "reset|check|registers after"
        auto row = [](const char *name, const char *text, bool result, int offset, const char *chip = "") {
            QTest::newRow(name) << QString(text) << result << offset << QString(chip); };
        row("no such day, offset kept", "2024-02-30 13:05:07:000 60", false, 60);
        row("no milliseconds", "2024-02-29 13:05:07 60", false, 60);
        row("720, blanks", "  2024-02-29   13:05:07:250  720 ", true, 720);
        row("-720", "2024-02-29 13:05:07:250 -720", true, -720);
        row("721", "2024-02-29 13:05:07:250 721", false, 30);
        row("-721", "2024-02-29 13:05:07:250 -721", false, 30);
        row("not a number", "2024-02-29 13:05:07:250 6O", false, 30);
        row("chip, reminder reset", "2024-02-29 13:05:07:250 60", true, 60, "1|1|99000020 0000");
        row("chip, reminder restored", "2024-02-29 13:05:07:250 60", true, 60, "0|1|fb020020 6054");
        row("chip, check off", "2024-02-29 13:05:07:250 60", true, 60, "0|0|99000020 0000");
    }
    void setDateTime()
    {
        QFETCH(QString, text);
        QFETCH(bool, result);
        QFETCH(int, offset);
        QFETCH(QString, chip);
        const QStringList flags = chip.split('|');
        construct();
        if (!chip.isEmpty()) {
            startChip(image("00000004")); // a battery-low start: the countdown runs
            hwcfg_data.batLowCheck = flags[1] == "1";
            QByteArray regs = sys->clockRegisters();
            regs[0x18] = regs[0x19] = 0;
            sys->writeFile("dev/i2c-2", regs);
        }
        cfg->setTimeZone(30);
        QSignalSpy changed(cfg.get(), SIGNAL(timeZoneChanged(int)));
        QCOMPARE(cfg->setExternalRTC(chip.isEmpty() || flags[0] == "1", true, &text), result);
        QCOMPARE(cfg->currentTimeZone(), offset);
        QCOMPARE(sys->readAppFile("timezone.cfg"), offset == 30 ? QByteArray() : QByteArray::number(offset));
        QCOMPARE(changed.count(), offset == 30 ? 0 : 1);
        QCOMPARE(sys->readFile("sim/system_clock"), result ? QByteArray::number(QDateTime(QDate(2024, 2, 29), QTime(13, 5, 7)).toSecsSinceEpoch()) + '\n' : QByteArray()); // local time
        if (chip.isEmpty())
            return;
        const QByteArray regs = sys->clockRegisters();
        QCOMPARE(regs.mid(0x08, 7).toHex(), QByteArray("07051329040224")); // Thursday = 4
        QCOMPARE(regs.mid(0x00, 4).toHex() + ' ' + regs.mid(0x18, 2).toHex(), flags[2].toLatin1());
        QCOMPARE(regs.mid(0x30, 4).toHex(), QByteArray("02159715"));
    }

    void syncClock_data()
    {
        QTest::addColumn<QByteArray>("time"); // registers 0x08..0x0E, seconds to year
        QTest::addColumn<QString>("expected"); // empty: the clock cannot be set
        QTest::newRow("worked example") << QByteArray("30592331051224") << "2024-12-31T22:59:30Z";
        QTest::newRow("October, flag bits set") << QByteArray("c58483c1f8f023") << "2023-10-01T01:04:45Z";
        QTest::newRow("clock refuses") << QByteArray("30592331051224") << "";
    }
    void syncClock()
    {
        QFETCH(QByteArray, time);
        QFETCH(QString, expected);
        zone("CET-1CEST,M3.5.0,M10.5.0/3");
        startChip(image("0000000000000000" + time));
        if (expected.isEmpty())
            QDir().mkpath(sys->path("sim/system_clock"));
        QCOMPARE(printedLines([this] { cfg->syncInternalRTC(); }),
                 QStringList{ expected.isEmpty() ? "RTC: Sync Fail" : "RTC: Sync" });
        QCOMPARE(sys->readFile("sim/system_clock"), expected.isEmpty() ? QByteArray() : QByteArray::number(QDateTime::fromString(expected, Qt::ISODate).toSecsSinceEpoch()) + '\n');
    }

    // A chip that stays busy is given up after about a second, having changed nothing.
    void eepromWriteGivesUp()
    {
        startChip(image(""));
        sys->writeFile("dev/i2c-2", image("00000080"));
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(printedLines([&] { QCOMPARE(cfg->writeByteToRTC_EEPROM(0x31, 0x15), 0); }), QStringList{ "RTC: EEPROM 0x31 not written" });
        QVERIFY2(elapsed.elapsed() >= 900 && elapsed.elapsed() < 3000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(sys->clockRegisters(), image("00000080"));
    }
};

QTEST_GUILESS_MAIN(tst_hwconfig)
#include "tst_hwconfig.moc"
