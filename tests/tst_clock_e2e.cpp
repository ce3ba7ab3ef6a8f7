// End to end: the utility starts on a panel with or without the clock chip
// and sets its system clock from the chip; the stored backlight reaches the
// device on the way.

#include "panelsession.h"

#include <QtTest>

class tst_clock_e2e : public QObject
{
    Q_OBJECT

private slots:
    void clockSetFromChip_data();
    void clockSetFromChip();
    void withoutChipClockUntouched();
};

static int indexStartingWith(const QStringList &lines, const QString &start)
{
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(start))
            return i;
    }
    return -1;
}

void tst_clock_e2e::clockSetFromChip_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<bool>("lowBattery");

    QTest::newRow("battery fine") << QDateTime(QDate(2031, 5, 17), QTime(8, 9, 10), Qt::UTC) << false;
    QTest::newRow("battery low") << QDateTime(QDate(2024, 12, 31), QTime(23, 59, 30), Qt::UTC) << true;
}

void tst_clock_e2e::clockSetFromChip()
{
    QFETCH(QDateTime, time);
    QFETCH(bool, lowBattery);

    PanelSession s;
    s.sysroot.populate();
    s.sysroot.addClockChip(time);
    if (lowBattery) {
        QByteArray regs = s.sysroot.clockRegisters();
        regs[0x03] = 0x04;
        s.sysroot.writeFile("dev/i2c-2", regs);
    }
    s.sysroot.writeAppFile("sys_conf.txt", "BLK<080>\n");
    QVERIFY(s.start());
    const QStringList lines = s.allLines();

    // The chip is found after the configuration files are read and before
    // the serial number is shown; the clock is set last, before the console.
    const int found = lines.indexOf("+++RTC");
    const int lowBatteryConf = indexStartingWith(lines, "HWI: Bat. Low Chk");
    const int serial = indexStartingWith(lines, "HWI: SN: ");
    const int synced = lines.indexOf("RTC: Sync");
    const int console = lines.indexOf("+++CXM");
    QVERIFY2(lowBatteryConf >= 0 && found > lowBatteryConf, qPrintable(lines.join('|')));
    QVERIFY2(serial > found && synced > serial && console > synced, qPrintable(lines.join('|')));
    QCOMPARE(lines.at(found + 1) == "RTC: BatLow show every: 43200s", lowBattery);
    QVERIFY(!lines.contains("No Ext. RTC"));

    QCOMPARE(s.sysroot.readFile("sim/system_clock"), QByteArray::number(time.toSecsSinceEpoch()) + '\n');

    const QByteArray regs = s.sysroot.clockRegisters();
    QCOMPARE(regs.at(0x03), '\0'); // the low-voltage flag is cleared at every start
    QCOMPARE(regs.mid(0x18, 2), lowBattery ? QByteArray("\x60\x54", 2) : QByteArray(2, '\0'));
    QCOMPARE(s.sysroot.readFile("sys/class/backlight/backlight2.18/brightness"), QByteArray("16"));
}

void tst_clock_e2e::withoutChipClockUntouched()
{
    PanelSession s;
    s.sysroot.populate();
    QVERIFY(s.start());
    const QStringList lines = s.allLines();
    QVERIFY2(lines.indexOf("No Ext. RTC") >= 0
                 && lines.indexOf("No Ext. RTC") < indexStartingWith(lines, "HWI: SN: "),
             qPrintable(lines.join('|')));
    QVERIFY(!lines.contains("+++RTC"));
    QVERIFY(indexStartingWith(lines, "RTC: ") < 0);
    QVERIFY(!s.sysroot.exists("sim/system_clock"));
}

QTEST_GUILESS_MAIN(tst_clock_e2e)
#include "tst_clock_e2e.moc"
