// The clock chip driver against a register image standing in for the chip.

#include "hdw_config.h"
#include "stdoutcapture.h"
#include "testsysroot.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTimer>
#include <QtTest>
#include <ctime>
#include <functional>
#include <memory>
#include <unistd.h>

class HardwareProbe
{
public:
    static QTimer *batteryTimer(HDW_config &c) { return c.batteryCheckTimer; }
    static int month(HDW_config &c) { return c.rtcTime.tm_mon; }
};

static QByteArray image(std::initializer_list<std::pair<int, int>> registers)
{
    QByteArray regs(256, '\0');
    for (const auto &r : registers)
        regs[r.first] = static_cast<char>(r.second);
    return regs;
}

// Built on a sysroot without the chip, so that its own start-up leaves the
// bus alone; each test then hands it the chip it wants.
struct Bench
{
    TestSysroot sys;
    std::unique_ptr<HDW_config> cfg;

    Bench()
    {
        sys.activate();
        printedLines([this] { cfg.reset(new HDW_config); });
    }
    QStringList startChip(const QByteArray &regs)
    {
        if (!regs.isNull())
            sys.writeFile("dev/i2c-2", regs);
        return printedLines([this] { cfg->init_ExternalRTC(); });
    }
    QByteArray regs() const { return sys.clockRegisters(); }
};

class tst_rtc : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        qputenv("TZ", "UTC");
        tzset();
    }
    void detection_data();
    void detection();
    void batteryLow_data();
    void batteryLow();
    void periodicCheckReachesSignal();
    void syncClock_data();
    void syncClock();
    void eepromWrite_data();
    void eepromWrite();
    void bcd_data();
    void bcd();
};

void tst_rtc::detection_data()
{
    QTest::addColumn<QByteArray>("regs");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("no bus") << QByteArray()
                            << QStringList { "HWI: RTC i2c bus error", "HWI: RTC i2c addr error",
                                             "HWI: RTC i2c func error", "No Ext. RTC" };
    // Registers 0..3 readable (timer flag up, battery low), the probe's fifth is not.
    QTest::newRow("too short") << QByteArray("\x62\x02\x02\x04", 4) << QStringList { "No Ext. RTC" };
    QTest::newRow("chip") << image({}) << QStringList { "+++RTC" };
    QTest::newRow("chip, battery low") << image({ { 0x03, 0x04 } })
                                       << QStringList { "+++RTC", "RTC: BatLow show every: 43200s" };
}

void tst_rtc::detection()
{
    QFETCH(QByteArray, regs);
    QFETCH(QStringList, lines);
    const bool present = lines.first() == "+++RTC";

    Bench b;
    QCOMPARE(b.startChip(regs), lines);
    QCOMPARE(b.cfg->isExternalRTC_presence(), present);
    QTimer *timer = HardwareProbe::batteryTimer(*b.cfg);
    QCOMPARE(timer && timer->isActive() && timer->interval() == 60000, present);
    if (present)
        return;
    // Without the chip nothing touches the bus or the clock.
    bool started = true, stopped = true, up = true;
    QCOMPARE(printedLines([&] {
                 started = b.cfg->setExtRTC_CountDownTimer(21600);
                 stopped = b.cfg->DisableExtRTC_CountDownTimer();
                 up = b.cfg->ExtRTC_CountDown_TimerUp();
                 b.cfg->checkBatteryLow();
                 b.cfg->syncInternalRTC();
             }),
             QStringList());
    QVERIFY(!started && !stopped && !up);
    QCOMPARE(b.regs(), regs);
    QVERIFY(!b.sys.exists("sim/system_clock"));
}

void tst_rtc::batteryLow_data()
{
    QTest::addColumn<QByteArray>("regs");
    QTest::addColumn<QByteArray>("started"); // registers 0x00..0x04, 0x18, 0x19 after start-up
    QTest::addColumn<bool>("checkOn");
    QTest::addColumn<QStringList>("firstCheck");
    QTest::addColumn<QStringList>("timerUpCheck");

    const QStringList remind { "Chk Bty", "RTC: LowBat Remind" };
    // 21600 ticks = 0x5460, low byte first; the other control bits survive.
    QTest::newRow("low battery")
        << image({ { 0, 0x08 }, { 1, 0x01 }, { 2, 0x02 }, { 3, 0x04 }, { 4, 0x5A } })
        << QByteArray("6a 03 00 00 5a 60 54") << true << QStringList { "Chk Bty", "RTC: 1st LowBat" } << remind;
    QTest::newRow("battery fine, stale timer")
        << image({ { 0, 0x6A }, { 1, 0x03 }, { 2, 0x02 }, { 3, 0x80 }, { 0x18, 0x11 }, { 0x19, 0x22 } })
        << QByteArray("68 01 00 00 00 11 22") << true << QStringList { "Chk Bty" } << remind;
    QTest::newRow("low battery, check off") << image({ { 3, 0x84 } }) << QByteArray("62 02 00 00 00 60 54")
                                            << false << QStringList() << QStringList();
}

void tst_rtc::batteryLow()
{
    QFETCH(QByteArray, regs);
    QFETCH(QByteArray, started);
    QFETCH(bool, checkOn);
    QFETCH(QStringList, firstCheck);
    QFETCH(QStringList, timerUpCheck);

    Bench b;
    b.startChip(regs);
    QCOMPARE((b.regs().left(5) + b.regs().mid(0x18, 2)).toHex(' '), started);

    hwcfg_data.batLowCheck = checkOn;
    QSignalSpy spy(b.cfg.get(), SIGNAL(ExternalRTCLowBat()));
    QCOMPARE(printedLines([&] { b.cfg->checkBatteryLow(); }), firstCheck);
    printedLines([&] { b.cfg->checkBatteryLow(); }); // the first warning comes once only
    QCOMPARE(spy.count(), firstCheck.contains("RTC: 1st LowBat") ? 1 : 0);

    // The countdown runs out: the flag is up, the start value counted away.
    spy.clear();
    regs = b.regs();
    regs[0x02] = static_cast<char>(regs[0x02] | 0x02);
    regs[0x18] = regs[0x19] = 0;
    b.sys.writeFile("dev/i2c-2", regs);
    QCOMPARE(printedLines([&] { b.cfg->checkBatteryLow(); }), timerUpCheck);
    QCOMPARE(spy.count(), timerUpCheck.isEmpty() ? 0 : 1);
    const QByteArray after = b.regs();
    if (timerUpCheck.isEmpty()) {
        QCOMPARE(after, regs);
    } else { // re-armed for 12 hours: 0.5 Hz clock, timer and its interrupt on, flag down
        QCOMPARE(after.at(0) & 0x62, 0x62);
        QCOMPARE(after.mid(1, 2).toHex(' ') + ' ' + after.mid(0x18, 2).toHex(' '), QByteArray("03 00 60 54"));
    }
}

void tst_rtc::periodicCheckReachesSignal()
{
    Bench b;
    b.startChip(image({ { 0x03, 0x04 } }));
    hwcfg_data.batLowCheck = true;
    QSignalSpy spy(b.cfg.get(), SIGNAL(ExternalRTCLowBat()));
    QTimer *timer = HardwareProbe::batteryTimer(*b.cfg);
    QVERIFY(timer);
    timer->setInterval(5);
    QVERIFY(spy.wait(2000));
    timer->stop();
}

void tst_rtc::syncClock_data()
{
    QTest::addColumn<QByteArray>("tz");
    QTest::addColumn<QByteArray>("time"); // registers 0x08..0x0E, seconds to year
    QTest::addColumn<QDateTime>("expected");
    QTest::addColumn<int>("month");

    const QByteArray cet("CET-1CEST,M3.5.0,M10.5.0/3");
    const QByteArray worked("\x30\x59\x23\x31\x05\x12\x24", 7);
    const QDate eve(2024, 12, 31);
    const QTime last(23, 59, 30);
    QTest::newRow("worked example") << QByteArray("UTC") << worked << QDateTime(eve, last, Qt::UTC) << 11;
    QTest::newRow("worked example, CET") << cet << worked << QDateTime(eve, last, Qt::OffsetFromUTC, 3600) << 11;
    QTest::newRow("summer time") << cet << QByteArray("\x00\x00\x12\x15\x01\x07\x24", 7)
                                 << QDateTime(QDate(2024, 7, 15), QTime(12, 0), Qt::OffsetFromUTC, 7200) << 6;
    QTest::newRow("October") << QByteArray("UTC") << QByteArray("\x05\x04\x03\x01\x00\x10\x23", 7)
                             << QDateTime(QDate(2023, 10, 1), QTime(3, 4, 5), Qt::UTC) << 9;
    QTest::newRow("flag bits ignored") << QByteArray("UTC") << QByteArray("\xB0\xD9\xE3\xF1\xFD\xF2\x24", 7)
                                       << QDateTime(eve, last, Qt::UTC) << 11;
    // A clock that cannot be set, and time registers beyond the bus's end.
    QTest::newRow("clock refuses") << QByteArray("UTC") << QByteArray("dir") << QDateTime() << -1;
    QTest::newRow("time unreadable") << QByteArray("UTC") << QByteArray("short") << QDateTime() << -1;
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
    if (time == "short")
        regs.resize(16);
    else if (time == "dir")
        QDir().mkpath(b.sys.path("sim/system_clock"));
    else
        regs.replace(0x08, time.size(), time);
    b.startChip(regs);
    const QStringList lines = printedLines([&] { b.cfg->syncInternalRTC(); });
    if (!expected.isValid()) {
        QCOMPARE(lines, QStringList { time == "dir" ? "RTC: Sync Fail" : "RTC: Error" });
        QVERIFY(b.sys.readFile("sim/system_clock").isEmpty());
        return;
    }
    QCOMPARE(lines, QStringList { "RTC: Sync" });
    QCOMPARE(b.sys.readFile("sim/system_clock"), QByteArray::number(expected.toSecsSinceEpoch()) + '\n');
    QCOMPARE(HardwareProbe::month(*b.cfg), month);
}

void tst_rtc::eepromWrite_data()
{
    QTest::addColumn<QByteArray>("regs");
    QTest::addColumn<int>("status"); // status register once started; -1 leaves it
    QTest::addColumn<QStringList>("lines");

    const QString giveUp = "RTC: EEPROM 0x31 not written";
    QTest::newRow("ready") << image({}) << 0x7F << QStringList();
    QTest::newRow("stays busy") << image({}) << 0x80 << QStringList { giveUp };
    QTest::newRow("status unreadable") << QByteArray(3, '\0') << -1 << QStringList { "Can't Read I2C", giveUp };
    QTest::newRow("write refused") << QByteArray(8, '\0') << -1 << QStringList { "Can't I2C Error", giveUp };
}

void tst_rtc::eepromWrite()
{
    QFETCH(QByteArray, regs);
    QFETCH(int, status);
    QFETCH(QStringList, lines);

    Bench b;
    b.startChip(regs);
    QByteArray before = b.regs();
    if (status >= 0) {
        before[0x03] = static_cast<char>(status);
        b.sys.writeFile("dev/i2c-2", before);
    }
    int result = -1;
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(printedLines([&] { result = b.cfg->writeByteToRTC_EEPROM(0x31, 0x15); }), lines);
    const qint64 ms = elapsed.elapsed();
    if (lines.isEmpty()) {
        QCOMPARE(result, 1);
        QCOMPARE(b.regs().at(0x31), '\x15');
        QVERIFY2(ms < 500, qPrintable(QString::number(ms)));
    } else { // gives up after about a second, having changed nothing
        QCOMPARE(result, 0);
        QCOMPARE(b.regs(), before);
        QVERIFY2(ms >= 900 && ms < 3000, qPrintable(QString::number(ms)));
    }
    if (lines.isEmpty()) { // the lock values of the control register
        QCOMPARE(b.cfg->setExtRTC_EEPROM_lock(1), 1);
        QCOMPARE(b.regs().at(0), '\x91');
        QCOMPARE(b.cfg->setExtRTC_EEPROM_lock(0), 1);
        QCOMPARE(b.regs().at(0), '\x99');
    }
}

void tst_rtc::bcd_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("bcd"); // four digits; the two-digit form of value % 100 is its low byte

    const int values[] = { 0, 7, 10, 31, 59, 99, 2000, 2024, 2099, 1970, 9999 };
    for (int v : values)
        QTest::newRow(qPrintable(QString::number(v))) << v << QString::number(v).toInt(nullptr, 16);
}

void tst_rtc::bcd()
{
    QFETCH(int, value);
    QFETCH(int, bcd);
    Bench b;
    QCOMPARE(b.cfg->int_to_4_byte_bcd(value), bcd);
    QCOMPARE(b.cfg->int_to_bcd(value % 100), bcd & 0xFF);
}

QTEST_GUILESS_MAIN(tst_rtc)
#include "tst_rtc.moc"
