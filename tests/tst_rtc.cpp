// The clock chip driver against a register image, and the date, time and zone the host sets.

#include "hdw_config.h"
#include "stdoutcapture.h"
#include "testsysroot.h"

#include <QtTest>
#include <ctime>

static QByteArray image(const QByteArray &hex) { return QByteArray::fromHex(hex).leftJustified(256, '\0'); }
static void zone(const char *tz) { qputenv("TZ", tz); tzset(); }

class tst_rtc : public QObject
{
    Q_OBJECT

    QScopedPointer<TestSysroot> sys;
    QScopedPointer<HDW_config> cfg;

    // A fresh panel; the chip appears after construction, which left the bus alone (null: no chip).
    QStringList startChip(const QByteArray &regs)
    {
        cfg.reset();
        sys.reset(new TestSysroot);
        sys->activate();
        printedLines([this] { cfg.reset(new HDW_config); });
        if (regs.isNull())
            return {};
        sys->writeFile("dev/i2c-2", regs);
        return printedLines([this] { cfg->init_ExternalRTC(); });
    }
    // The accepted date, local time, as the simulated clock holds it.
    static QByteArray leapDayClock() { return QByteArray::number(QDateTime(QDate(2024, 2, 29), QTime(13, 5, 7)).toSecsSinceEpoch()) + '\n'; }

private slots:
    void lowBatteryStartAndCheck()
    {
        auto control = [this] { return (sys->clockRegisters().left(5) + sys->clockRegisters().mid(0x18, 2)).toHex(' '); };
        QCOMPARE(startChip(image("080102045a")), (QStringList{ "+++RTC", "RTC: BatLow show every: 43200s" }));
        // Control, flags, status, and a 12-hour countdown (21600 = 0x5460 ticks, low byte first) at 0x18.
        QCOMPARE(control(), QByteArray("6a 03 00 00 5a 60 54"));
        // While the chip is there, the battery check runs once a minute.
        QTimer *timer = cfg->findChild<QTimer *>();
        QVERIFY(timer && timer->isActive());
        QVERIFY(disconnect(timer, &QTimer::timeout, cfg.data(), &HDW_config::checkBatteryLow));

        QSignalSpy warned(cfg.data(), SIGNAL(ExternalRTCLowBat()));
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
        zone("UTC");
        startChip(chip.isEmpty() ? QByteArray() : image("00000004")); // a battery-low start: the countdown runs
        QByteArray regs = sys->clockRegisters();
        if (!chip.isEmpty()) {
            hwcfg_data.batLowCheck = flags[1] == "1";
            regs[0x18] = regs[0x19] = 0;
            sys->writeFile("dev/i2c-2", regs);
        }
        cfg->setTimeZone(30);
        QSignalSpy changed(cfg.data(), SIGNAL(timeZoneChanged(int)));
        QCOMPARE(cfg->setExternalRTC(chip.isEmpty() || flags[0] == "1", true, &text), result);
        QCOMPARE(cfg->currentTimeZone(), offset);
        QCOMPARE(sys->readAppFile("timezone.cfg"), offset == 30 ? QByteArray() : QByteArray::number(offset));
        QCOMPARE(changed.count(), offset == 30 ? 0 : 1);
        QCOMPARE(sys->readFile("sim/system_clock"), result ? leapDayClock() : QByteArray());
        if (chip.isEmpty())
            return;
        regs = sys->clockRegisters();
        QCOMPARE(regs.mid(0x08, 7).toHex(), QByteArray("07051329040224")); // Thursday = 4
        QCOMPARE(regs.mid(0x00, 4).toHex() + ' ' + regs.mid(0x18, 2).toHex(), flags[2].toLatin1());
        QCOMPARE(regs.mid(0x30, 4).toHex(), QByteArray("02159715"));
    }

    void syncClock_data()
    {
        QTest::addColumn<QByteArray>("time"); // registers 0x08..0x0E, seconds to year
        QTest::addColumn<QString>("expected"); // empty: the clock cannot be set
        QTest::newRow("worked example") << QByteArray("30592331051224") << "2024-12-31T22:59:30Z";
        QTest::newRow("October, flag bits set") << QByteArray("858483c1f8f023") << "2023-10-01T01:04:05Z";
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
        const qint64 seconds = QDateTime::fromString(expected, Qt::ISODate).toSecsSinceEpoch();
        QCOMPARE(sys->readFile("sim/system_clock"), expected.isEmpty() ? QByteArray() : QByteArray::number(seconds) + '\n');
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

QTEST_GUILESS_MAIN(tst_rtc)
#include "tst_rtc.moc"
