// The clock chip driver against a register image standing in for the chip.

#include "hdw_config.h"
#include "testsysroot.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTimer>
#include <QtTest>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <unistd.h>

class HardwareProbe
{
public:
    static QTimer *batteryTimer(HDW_config &c) { return c.batteryCheckTimer; }
    static bool lowBatteryPending(HDW_config &c) { return c.firstLowBatPending; }
    static struct tm rtcTime(HDW_config &c) { return c.rtcTime; }
};

// What the code under test printed on standard output, line by line. The
// test's own checks stay outside, so a failure message is never swallowed.
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

// A 256-byte register image, zero but for the given registers.
static QByteArray image(std::initializer_list<std::pair<int, int>> registers)
{
    QByteArray regs(256, '\0');
    for (const auto &r : registers)
        regs[r.first] = static_cast<char>(r.second);
    return regs;
}

static int reg(const QByteArray &regs, int address)
{
    return static_cast<unsigned char>(regs.at(address));
}

// A configuration object built on a sysroot without the chip (so its own
// start-up leaves the bus alone), to which a test then hands a chip.
struct Bench
{
    TestSysroot sys;
    std::unique_ptr<HDW_config> cfg;

    Bench()
    {
        sys.activate();
        printed([this] { cfg.reset(new HDW_config); });
        hwcfg_data.batLowCheck = true;
    }

    QStringList startChip(const QByteArray &regs)
    {
        if (!regs.isNull())
            sys.writeFile("dev/i2c-2", regs);
        return printed([this] { cfg->init_ExternalRTC(); });
    }

    QByteArray regs() const { return sys.clockRegisters(); }
};

class tst_rtc : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void detection_data();
    void detection();
    void absentChipLeavesBusAlone();
    void batteryLowStartup_data();
    void batteryLowStartup();
    void batteryLowWarning_data();
    void batteryLowWarning();
    void periodicCheckReachesSignal();
    void countdownLoad_data();
    void countdownLoad();
    void syncClock_data();
    void syncClock();
    void syncFailures_data();
    void syncFailures();
    void eepromLock_data();
    void eepromLock();
    void eepromWrite_data();
    void eepromWrite();
    void twoDigitBcd_data();
    void twoDigitBcd();
    void fourDigitBcd_data();
    void fourDigitBcd();
};

void tst_rtc::cleanup()
{
    qputenv("TZ", "UTC");
    tzset();
}

void tst_rtc::detection_data()
{
    QTest::addColumn<QByteArray>("regs");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("present");

    QTest::newRow("no bus") << QByteArray()
                            << QStringList { "HWI: RTC i2c bus error", "HWI: RTC i2c addr error",
                                             "HWI: RTC i2c func error", "No Ext. RTC" }
                            << false;
    QTest::newRow("bus without chip") << QByteArray(4, '\0') << QStringList { "No Ext. RTC" } << false;
    QTest::newRow("chip") << image({}) << QStringList { "+++RTC" } << true;
    QTest::newRow("chip, battery low")
        << image({ { 0x03, 0x04 } }) << QStringList { "+++RTC", "RTC: BatLow show every: 43200s" } << true;
}

void tst_rtc::detection()
{
    QFETCH(QByteArray, regs);
    QFETCH(QStringList, lines);
    QFETCH(bool, present);

    Bench b;
    QCOMPARE(b.startChip(regs), lines);
    QCOMPARE(b.cfg->isExternalRTC_presence(), present);
    QTimer *timer = HardwareProbe::batteryTimer(*b.cfg);
    QCOMPARE(timer != nullptr && timer->isActive(), present);
    if (present)
        QCOMPARE(timer->interval(), 60000);
}

void tst_rtc::absentChipLeavesBusAlone()
{
    Bench b;
    // Readable registers 0..3 with the timer flag up, but too short for the
    // five-byte probe: the chip counts as absent.
    const QByteArray regs("\x62\x02\x02\x04", 4);
    b.startChip(regs);
    QVERIFY(!b.cfg->isExternalRTC_presence());

    bool started = true, stopped = true, up = true;
    QStringList out = printed([&] {
        started = b.cfg->setExtRTC_CountDownTimer(21600);
        stopped = b.cfg->DisableExtRTC_CountDownTimer();
        up = b.cfg->ExtRTC_CountDown_TimerUp();
        b.cfg->checkBatteryLow();
        b.cfg->syncInternalRTC();
    });
    QVERIFY(!started);
    QVERIFY(!stopped);
    QVERIFY(!up);
    QCOMPARE(out, QStringList());
    QCOMPARE(b.regs(), regs);
    QVERIFY(!b.sys.exists("sim/system_clock"));
}

void tst_rtc::batteryLowStartup_data()
{
    QTest::addColumn<QByteArray>("regs");
    QTest::addColumn<QByteArray>("control");   // registers 0x00..0x04 after start-up
    QTest::addColumn<QByteArray>("countdown"); // registers 0x18, 0x19 after start-up
    QTest::addColumn<bool>("pending");

    // 21600 = 0x5460, low byte first.
    QTest::newRow("low battery, timer idle")
        << image({ { 0x00, 0x08 }, { 0x01, 0x01 }, { 0x02, 0x02 }, { 0x03, 0x04 }, { 0x04, 0x5A } })
        << QByteArray("\x6A\x03\x00\x00\x5A", 5) << QByteArray("\x60\x54", 2) << true;
    QTest::newRow("low battery, EEPROM busy too")
        << image({ { 0x03, 0x84 }, { 0x18, 0x11 }, { 0x19, 0x22 } })
        << QByteArray("\x62\x02\x00\x00\x00", 5) << QByteArray("\x60\x54", 2) << true;
    QTest::newRow("battery fine, timer left running")
        << image({ { 0x00, 0x6A }, { 0x01, 0x03 }, { 0x02, 0x02 }, { 0x18, 0x11 }, { 0x19, 0x22 } })
        << QByteArray("\x68\x01\x00\x00\x00", 5) << QByteArray("\x11\x22", 2) << false;
    QTest::newRow("battery fine, other status bits")
        << image({ { 0x00, 0x99 }, { 0x03, 0x83 } })
        << QByteArray("\x99\x00\x00\x00\x00", 5) << QByteArray("\x00\x00", 2) << false;
}

void tst_rtc::batteryLowStartup()
{
    QFETCH(QByteArray, regs);
    QFETCH(QByteArray, control);
    QFETCH(QByteArray, countdown);
    QFETCH(bool, pending);

    Bench b;
    regs[0x08] = 0x45; // the time registers are not the driver's to touch here
    b.startChip(regs);
    const QByteArray after = b.regs();
    QCOMPARE(after.size(), 256);
    QCOMPARE(after.left(5).toHex(' '), control.toHex(' '));
    QCOMPARE(after.mid(0x18, 2).toHex(' '), countdown.toHex(' '));
    QCOMPARE(reg(after, 0x08), 0x45);
    QCOMPARE(HardwareProbe::lowBatteryPending(*b.cfg), pending);
}

void tst_rtc::batteryLowWarning_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("checkOn");
    QTest::addColumn<QStringList>("firstCheck");
    QTest::addColumn<int>("firstSignals");
    QTest::addColumn<QStringList>("whenTimerUp");
    QTest::addColumn<int>("timerUpSignals");

    QTest::newRow("low battery")
        << 0x04 << true << QStringList { "Chk Bty", "RTC: 1st LowBat" } << 1
        << QStringList { "Chk Bty", "RTC: LowBat Remind" } << 1;
    QTest::newRow("battery fine") << 0x00 << true << QStringList { "Chk Bty" } << 0
                                  << QStringList { "Chk Bty", "RTC: LowBat Remind" } << 1;
    QTest::newRow("check off") << 0x04 << false << QStringList() << 0 << QStringList() << 0;
}

void tst_rtc::batteryLowWarning()
{
    QFETCH(int, status);
    QFETCH(bool, checkOn);
    QFETCH(QStringList, firstCheck);
    QFETCH(int, firstSignals);
    QFETCH(QStringList, whenTimerUp);
    QFETCH(int, timerUpSignals);

    Bench b;
    b.startChip(image({ { 0x03, status } }));
    hwcfg_data.batLowCheck = checkOn;
    QSignalSpy spy(b.cfg.get(), SIGNAL(ExternalRTCLowBat()));

    QCOMPARE(printed([&] { b.cfg->checkBatteryLow(); }), firstCheck);
    QCOMPARE(spy.count(), firstSignals);
    // The first warning is given once only.
    spy.clear();
    printed([&] { b.cfg->checkBatteryLow(); });
    QCOMPARE(spy.count(), 0);

    // The chip's countdown runs out: its flag is up and the start value was
    // counted away.
    QByteArray regs = b.regs();
    regs[0x02] = static_cast<char>(reg(regs, 0x02) | 0x02);
    regs[0x18] = 0;
    regs[0x19] = 0;
    b.sys.writeFile("dev/i2c-2", regs);
    QCOMPARE(printed([&] { b.cfg->checkBatteryLow(); }), whenTimerUp);
    QCOMPARE(spy.count(), timerUpSignals);

    const QByteArray after = b.regs();
    if (timerUpSignals) {
        // Re-armed for the next 12 hours, flag down.
        QCOMPARE(reg(after, 0x02) & 0x02, 0);
        QCOMPARE(reg(after, 0x18), 0x60);
        QCOMPARE(reg(after, 0x19), 0x54);
        QCOMPARE(reg(after, 0x00) & 0x62, 0x62);
        QCOMPARE(reg(after, 0x01) & 0x02, 0x02);
    } else {
        QCOMPARE(after, regs);
    }
}

void tst_rtc::periodicCheckReachesSignal()
{
    Bench b;
    b.startChip(image({ { 0x03, 0x04 } }));
    QTimer *timer = HardwareProbe::batteryTimer(*b.cfg);
    QVERIFY(timer);
    QSignalSpy spy(b.cfg.get(), SIGNAL(ExternalRTCLowBat()));
    timer->setInterval(10);
    QVERIFY(spy.wait(2000));
    timer->stop();
    QCOMPARE(spy.count(), 1);
}

void tst_rtc::countdownLoad_data()
{
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");

    QTest::newRow("reminder") << 21600 << 0x60 << 0x54;
    QTest::newRow("one tick") << 1 << 0x01 << 0x00;
    QTest::newRow("largest") << 0xFFFF << 0xFF << 0xFF;
}

void tst_rtc::countdownLoad()
{
    QFETCH(int, ticks);
    QFETCH(int, low);
    QFETCH(int, high);

    Bench b;
    b.startChip(image({ { 0x00, 0x89 }, { 0x01, 0x10 }, { 0x02, 0x0A } }));
    QVERIFY(!b.cfg->ExtRTC_CountDown_TimerUp());
    QVERIFY(b.cfg->setExtRTC_CountDownTimer(ticks));
    QByteArray regs = b.regs();
    QCOMPARE(reg(regs, 0x18), low);
    QCOMPARE(reg(regs, 0x19), high);
    QCOMPARE(regs.left(3).toHex(' '), QByteArray("eb 12 08"));

    regs[0x02] = static_cast<char>(0x0A);
    b.sys.writeFile("dev/i2c-2", regs);
    QVERIFY(b.cfg->ExtRTC_CountDown_TimerUp());
    QVERIFY(b.cfg->DisableExtRTC_CountDownTimer());
    QCOMPARE(b.regs().left(3).toHex(' '), QByteArray("e9 10 08"));
    QVERIFY(!b.cfg->ExtRTC_CountDown_TimerUp());
}

void tst_rtc::syncClock_data()
{
    QTest::addColumn<QByteArray>("tz");
    QTest::addColumn<QByteArray>("time"); // registers 0x08..0x0E
    QTest::addColumn<QDateTime>("expected");
    QTest::addColumn<int>("month");       // counted from 0

    const QByteArray worked("\x30\x59\x23\x31\x05\x12\x24", 7);
    const QDateTime newYearsEve(QDate(2024, 12, 31), QTime(23, 59, 30), Qt::OffsetFromUTC, 0);
    QTest::newRow("worked example, UTC") << QByteArray("UTC") << worked << newYearsEve << 11;
    QTest::newRow("worked example, central Europe")
        << QByteArray("CET-1CEST,M3.5.0,M10.5.0/3") << worked
        << QDateTime(QDate(2024, 12, 31), QTime(23, 59, 30), Qt::OffsetFromUTC, 3600) << 11;
    QTest::newRow("summer time decided by the C library")
        << QByteArray("CET-1CEST,M3.5.0,M10.5.0/3") << QByteArray("\x00\x00\x12\x15\x01\x07\x24", 7)
        << QDateTime(QDate(2024, 7, 15), QTime(12, 0, 0), Qt::OffsetFromUTC, 7200) << 6;
    QTest::newRow("October") << QByteArray("UTC") << QByteArray("\x05\x04\x03\x01\x00\x10\x23", 7)
                             << QDateTime(QDate(2023, 10, 1), QTime(3, 4, 5), Qt::OffsetFromUTC, 0)
                             << 9;
    QTest::newRow("unused bits ignored")
        << QByteArray("UTC") << QByteArray("\xB0\xD9\xE3\xF1\xFD\xF2\x24", 7) << newYearsEve << 11;
}

void tst_rtc::syncClock()
{
    QFETCH(QByteArray, tz);
    QFETCH(QByteArray, time);
    QFETCH(QDateTime, expected);
    QFETCH(int, month);

    qputenv("TZ", tz);
    tzset();
    Bench b;
    QByteArray regs = image({});
    regs.replace(0x08, time.size(), time);
    b.startChip(regs);
    QCOMPARE(printed([&] { b.cfg->syncInternalRTC(); }), QStringList { "RTC: Sync" });
    QCOMPARE(b.sys.readFile("sim/system_clock"), QByteArray::number(expected.toSecsSinceEpoch()) + '\n');
    QCOMPARE(HardwareProbe::rtcTime(*b.cfg).tm_mon, month);
}

void tst_rtc::syncFailures_data()
{
    QTest::addColumn<QByteArray>("regs");
    QTest::addColumn<int>("shrinkTo"); // cut the register file after start-up; -1 leaves it
    QTest::addColumn<bool>("clockIsDirectory");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("clock cannot be set") << image({}) << -1 << true << QStringList { "RTC: Sync Fail" };
    QTest::newRow("time registers cut short") << QByteArray(16, '\0') << -1 << false
                                              << QStringList { "RTC: Error" };
    QTest::newRow("time address not taken") << image({}) << 4 << false << QStringList { "HWI: RTC Error" };
    QTest::newRow("no chip") << QByteArray(4, '\0') << -1 << false << QStringList();
}

void tst_rtc::syncFailures()
{
    QFETCH(QByteArray, regs);
    QFETCH(int, shrinkTo);
    QFETCH(bool, clockIsDirectory);
    QFETCH(QStringList, lines);

    Bench b;
    b.startChip(regs);
    if (shrinkTo >= 0)
        QVERIFY(QFile::resize(b.sys.path("dev/i2c-2"), shrinkTo));
    if (clockIsDirectory)
        QVERIFY(QDir().mkpath(b.sys.path("sim/system_clock")));
    QCOMPARE(printed([&] { b.cfg->syncInternalRTC(); }), lines);
    QVERIFY(clockIsDirectory || !b.sys.exists("sim/system_clock"));
}

void tst_rtc::eepromLock_data()
{
    QTest::addColumn<bool>("chip");
    QTest::addColumn<int>("lock");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("control");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("unlock") << true << 0 << 1 << 0x99 << QStringList();
    QTest::newRow("lock") << true << 1 << 1 << 0x91 << QStringList();
    QTest::newRow("no bus") << false << 1 << 0 << -1 << QStringList { "Set Reg. Addr. Fail" };
}

void tst_rtc::eepromLock()
{
    QFETCH(bool, chip);
    QFETCH(int, lock);
    QFETCH(int, result);
    QFETCH(int, control);
    QFETCH(QStringList, lines);

    Bench b;
    b.startChip(chip ? image({ { 0x01, 0x31 } }) : QByteArray());
    int got = -1;
    QCOMPARE(printed([&] { got = b.cfg->setExtRTC_EEPROM_lock(lock); }), lines);
    QCOMPARE(got, result);
    if (chip) {
        QCOMPARE(reg(b.regs(), 0x00), control);
        QCOMPARE(reg(b.regs(), 0x01), 0x31);
    }
    if (!chip) {
        QCOMPARE(printed([&] { got = b.cfg->resetExtRTC_BatteryLow(); }), QStringList { "Reset Bat. Low Fail" });
        QCOMPARE(got, 0);
    }
}

void tst_rtc::eepromWrite_data()
{
    QTest::addColumn<QByteArray>("regs");
    QTest::addColumn<int>("status"); // status register once started; -1 leaves it
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("lines");

    const QString giveUp = "RTC: EEPROM 0x31 not written";
    QTest::newRow("ready") << image({}) << 0x7F << 1 << QStringList();
    QTest::newRow("stays busy") << image({}) << 0x80 << 0 << QStringList { giveUp };
    QTest::newRow("status unreadable") << QByteArray(3, '\0') << -1 << 0
                                       << QStringList { "Can't Read I2C", giveUp };
    QTest::newRow("write refused") << QByteArray(8, '\0') << -1 << 0
                                   << QStringList { "Can't I2C Error", giveUp };
}

void tst_rtc::eepromWrite()
{
    QFETCH(QByteArray, regs);
    QFETCH(int, status);
    QFETCH(int, result);
    QFETCH(QStringList, lines);

    Bench b;
    b.startChip(regs);
    QByteArray before = b.regs();
    if (status >= 0) {
        before[0x03] = static_cast<char>(status);
        b.sys.writeFile("dev/i2c-2", before);
    }
    int got = -1;
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(printed([&] { got = b.cfg->writeByteToRTC_EEPROM(0x31, 0x15); }), lines);
    const qint64 ms = elapsed.elapsed();
    QCOMPARE(got, result);
    if (result) {
        QCOMPARE(reg(b.regs(), 0x31), 0x15);
        QVERIFY2(ms < 500, qPrintable(QString::number(ms)));
    } else {
        // Gives up after about a second, having changed nothing.
        QCOMPARE(b.regs(), before);
        QVERIFY2(ms >= 900 && ms < 3000, qPrintable(QString::number(ms)));
    }
}

void tst_rtc::twoDigitBcd_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("bcd");

    QTest::newRow("0") << 0 << 0x00;
    QTest::newRow("7") << 7 << 0x07;
    QTest::newRow("10") << 10 << 0x10;
    QTest::newRow("31") << 31 << 0x31;
    QTest::newRow("59") << 59 << 0x59;
    QTest::newRow("99") << 99 << 0x99;
}

void tst_rtc::twoDigitBcd()
{
    QFETCH(int, value);
    QFETCH(int, bcd);
    Bench b;
    QCOMPARE(b.cfg->int_to_bcd(value), bcd);
}

void tst_rtc::fourDigitBcd_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("bcd");

    QTest::newRow("2024") << 2024 << 0x2024;
    QTest::newRow("2000") << 2000 << 0x2000;
    QTest::newRow("2099") << 2099 << 0x2099;
    QTest::newRow("1970") << 1970 << 0x1970;
    QTest::newRow("45") << 45 << 0x0045;
    QTest::newRow("9999") << 9999 << 0x9999;
}

void tst_rtc::fourDigitBcd()
{
    QFETCH(int, value);
    QFETCH(int, bcd);
    Bench b;
    QCOMPARE(b.cfg->int_to_4_byte_bcd(value), bcd);
    // The year register takes the low byte.
    QCOMPARE(b.cfg->int_to_4_byte_bcd(value) & 0xFF, b.cfg->int_to_bcd(value % 100));
}

QTEST_GUILESS_MAIN(tst_rtc)
#include "tst_rtc.moc"
