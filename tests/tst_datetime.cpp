// Date, time and time-zone setting on a temporary sysroot: the stored offset,
// the simulated system clock, the chip's register file, the time-zone reply.

#include "hdw_config.h"
#include "panelsession.h"
#include "usb_console.h"

#include <QtTest>

// The accepted date, local time, as the simulated clock holds it.
static QByteArray leapDayClock()
{
    return QByteArray::number(QDateTime(QDate(2024, 2, 29), QTime(13, 5, 7)).toSecsSinceEpoch()) + '\n';
}

class tst_datetime : public QObject
{
    Q_OBJECT

private slots:
    // The host's date-time text, then its time-zone request (the reply always 13 bytes).
    void setDateTime_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("result"); // the clock is set
        QTest::addColumn<int>("offset");  // 30: unchanged, no file, no signal
        QTest::addColumn<QByteArray>("reply");
        auto row = [](const char *name, const char *text, bool result, int offset, const char *reply) {
            QTest::newRow(name) << QString(text) << result << offset << QByteArray(reply); };
        row("leap day", "2024-02-29 13:05:07:250 60", true, 60, "<LOTIZO:  60>");
        row("no such day, offset kept", "2024-02-30 13:05:07:000 60", false, 60, "<LOTIZO:  60>");
        row("no milliseconds", "2024-02-29 13:05:07 60", false, 60, "<LOTIZO:  60>");
        row("-60", "2024-02-29 13:05:07:250 -60", true, -60, "<LOTIZO: -60>");
        row("720, blanks", "  2024-02-29   13:05:07:250  720 ", true, 720, "<LOTIZO: 720>");
        row("-720", "2024-02-29 13:05:07:250 -720", true, -720, "<LOTIZO:-720>");
        row("721", "2024-02-29 13:05:07:250 721", false, 30, "<LOTIZO:  30>");
        row("-721", "2024-02-29 13:05:07:250 -721", false, 30, "<LOTIZO:  30>");
        row("not a number", "2024-02-29 13:05:07:250 6O", false, 30, "<LOTIZO:  30>");
        row("date only", "2024-02-29", false, 30, "<LOTIZO:  30>");
    }
    void setDateTime()
    {
        QFETCH(QString, text);
        QFETCH(bool, result);
        QFETCH(int, offset);
        QFETCH(QByteArray, reply);
        TestSysroot root;
        root.populate();
        PtyLink link;
        QVERIFY(link.open() && link.linkAs(root.path("dev/ttyGS0")));
        root.activate();
        HDW_config hw;
        USB_console console(nullptr, &hw);
        hw.setTimeZone(30);
        QSignalSpy changed(&hw, SIGNAL(timeZoneChanged(int)));
        QCOMPARE(hw.setExternalRTC(true, true, &text), result);
        QCOMPARE(hw.currentTimeZone(), offset);
        QCOMPARE(root.readAppFile("timezone.cfg"), offset == 30 ? QByteArray() : QByteArray::number(offset));
        QCOMPARE(changed.count(), offset == 30 ? 0 : 1);
        QCOMPARE(root.readFile("sim/system_clock"), result ? leapDayClock() : QByteArray());
        console.reportLocalTimeZone();
        link.fill(2000);
        QCOMPARE(link.buffer(), reply);
    }

    void chipRegisters_data()
    {
        QTest::addColumn<bool>("resetReminder");
        QTest::addColumn<bool>("check");
        QTest::addColumn<QByteArray>("after"); // registers 0x00..0x03 and 0x18..0x19
        // The block is reset to F9 00 00 20; the EEPROM unlock leaves control 1 at 99.
        QTest::newRow("console: reminder reset") << true << true << QByteArray("99000020 0000");
        QTest::newRow("reminder restored") << false << true << QByteArray("fb020020 6054");
        QTest::newRow("check off") << false << false << QByteArray("99000020 0000");
    }
    void chipRegisters()
    {
        QFETCH(bool, resetReminder);
        QFETCH(bool, check);
        QFETCH(QByteArray, after);
        TestSysroot root;
        root.populate();
        // A battery-low start: the countdown runs.
        root.writeFile("dev/i2c-2", QByteArray::fromHex("00000004").leftJustified(256, '\0'));
        root.activate();
        HDW_config hw;
        hwcfg_data.batLowCheck = check;
        QByteArray regs = root.clockRegisters(); // the countdown runs down
        regs[0x18] = regs[0x19] = 0;
        root.writeFile("dev/i2c-2", regs);

        QString text = QStringLiteral("2024-02-29 13:05:07:250 60");
        QVERIFY(hw.setExternalRTC(resetReminder, true, &text));
        regs = root.clockRegisters();
        QCOMPARE(regs.mid(0x08, 7).toHex(), QByteArray("07051329040224")); // Thursday = 4
        QCOMPARE(regs.mid(0x00, 4).toHex() + ' ' + regs.mid(0x18, 2).toHex(), after);
        QCOMPARE(regs.mid(0x30, 4).toHex(), QByteArray("02159715"));
        QCOMPARE(root.readFile("sim/system_clock"), leapDayClock());
    }
};

QTEST_MAIN(tst_datetime)
#include "tst_datetime.moc"
