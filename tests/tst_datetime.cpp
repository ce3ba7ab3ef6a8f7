// Date, time and time-zone setting on a temporary sysroot: the stored
// offset, the simulated system clock, the clock chip's register file and
// the console's time-zone reply.

#include "hdw_config.h"
#include "panelsession.h"
#include "testsysroot.h"
#include "usb_console.h"

#include <QSignalSpy>
#include <QtTest>
#include <ctime>

static qint64 localSeconds(const char *text)
{
    return QDateTime::fromString(QLatin1String(text), QStringLiteral("yyyy-MM-dd hh:mm:ss")).toSecsSinceEpoch();
}

class tst_datetime : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void setDateTime_data();
    void setDateTime();
    void chipRegisters_data();
    void chipRegisters();
    void timeZoneReply_data();
    void timeZoneReply();
};

void tst_datetime::initTestCase()
{
    qputenv("TZ", "UTC");
    tzset();
}

void tst_datetime::setDateTime_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("offset");     // 30: unchanged, no file, no signal
    QTest::addColumn<qint64>("clock");   // 0: clock not set

    const qint64 leap = localSeconds("2024-02-29 13:05:07");
    QTest::newRow("leap day") << "2024-02-29 13:05:07:250 60" << true << 60 << leap;
    QTest::newRow("no such day, offset kept") << "2024-02-30 13:05:07:000 60" << false << 60 << qint64(0);
    QTest::newRow("no milliseconds") << "2024-02-29 13:05:07 60" << false << 60 << qint64(0);
    QTest::newRow("720, blanks") << "  2024-02-29   13:05:07:250  720 " << true << 720 << leap;
    QTest::newRow("-720") << "2024-02-29 13:05:07:250 -720" << true << -720 << leap;
    QTest::newRow("721") << "2024-02-29 13:05:07:250 721" << false << 30 << qint64(0);
    QTest::newRow("-721") << "2024-02-29 13:05:07:250 -721" << false << 30 << qint64(0);
    QTest::newRow("not a number") << "2024-02-29 13:05:07:250 6O" << false << 30 << qint64(0);
    QTest::newRow("date only") << "2024-02-29" << false << 30 << qint64(0);
}

void tst_datetime::setDateTime()
{
    QFETCH(QString, text);
    QFETCH(bool, result);
    QFETCH(int, offset);
    QFETCH(qint64, clock);

    TestSysroot root;
    root.populate();
    root.activate();
    HDW_config hw;
    hw.setTimeZone(30);
    QFile::remove(root.path("sim/system_clock"));
    QSignalSpy changed(&hw, SIGNAL(timeZoneChanged(int)));

    QCOMPARE(hw.setExternalRTC(true, true, &text), result);
    QCOMPARE(hw.currentTimeZone(), offset);
    QCOMPARE(root.readAppFile("timezone.cfg"), offset == 30 ? QByteArray() : QByteArray::number(offset));
    QCOMPARE(changed.count(), offset == 30 ? 0 : 1);
    QCOMPARE(root.readFile("sim/system_clock").trimmed().toLongLong(), clock);
}

void tst_datetime::chipRegisters_data()
{
    QTest::addColumn<bool>("resetReminder");
    QTest::addColumn<bool>("check");
    QTest::addColumn<QByteArray>("control");    // 0x00..0x03 afterwards
    QTest::addColumn<QByteArray>("countdown");  // 0x18..0x19 afterwards
    // The block is reset to F9 00 00 20; the EEPROM unlock leaves control 1 at 99.
    QTest::newRow("console: reminder reset") << true << true << QByteArray::fromHex("99000020") << QByteArray(2, 0);
    QTest::newRow("reminder restored") << false << true << QByteArray::fromHex("fb020020")
                                       << QByteArray::fromHex("6054");
    QTest::newRow("check off") << false << false << QByteArray::fromHex("99000020") << QByteArray(2, 0);
}

void tst_datetime::chipRegisters()
{
    QFETCH(bool, resetReminder);
    QFETCH(bool, check);
    QFETCH(QByteArray, control);
    QFETCH(QByteArray, countdown);

    TestSysroot root;
    root.populate();
    root.addClockChip(QDateTime(QDate(2019, 7, 14), QTime(8, 30, 0)));
    root.activate();
    HDW_config hw;
    QVERIFY(hw.isExternalRTC_presence());
    hwcfg_data.batLowCheck = check;
    // The countdown runs, as after a battery-low start.
    QByteArray regs = root.clockRegisters();
    regs.replace(0x00, 4, QByteArray::fromHex("62020000"));
    regs.replace(0x18, 2, QByteArray(2, 0));
    root.writeFile("dev/i2c-2", regs);

    QString text = QStringLiteral("2024-02-29 13:05:07:250 60");
    QVERIFY(hw.setExternalRTC(resetReminder, true, &text));
    regs = root.clockRegisters();
    QCOMPARE(regs.size(), 256);
    QCOMPARE(regs.mid(0x08, 7).toHex(), QByteArray("07051329040224"));  // Thursday = 4
    QCOMPARE(regs.mid(0x00, 4).toHex(), control.toHex());
    QCOMPARE(regs.mid(0x18, 2).toHex(), countdown.toHex());
    QCOMPARE(regs.mid(0x30, 4).toHex(), QByteArray("02159715"));
    QCOMPARE(root.readFile("sim/system_clock").trimmed().toLongLong(), localSeconds("2024-02-29 13:05:07"));
}

void tst_datetime::timeZoneReply_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("0") << 0 << QByteArray("<LOTIZO:   0>");
    QTest::newRow("-60") << -60 << QByteArray("<LOTIZO: -60>");
    QTest::newRow("720") << 720 << QByteArray("<LOTIZO: 720>");
    QTest::newRow("-720") << -720 << QByteArray("<LOTIZO:-720>");
}

void tst_datetime::timeZoneReply()
{
    QFETCH(int, offset);
    QFETCH(QByteArray, reply);
    TestSysroot root;
    PtyLink link;
    QVERIFY(link.open());
    QVERIFY(link.linkAs(root.path("dev/ttyGS0")));
    root.activate();
    HDW_config hw;
    USB_console console(nullptr, &hw);
    hw.setTimeZone(offset);
    console.reportLocalTimeZone();
    link.fill(2000);
    QCOMPARE(link.buffer(), reply);
}

QTEST_MAIN(tst_datetime)
#include "tst_datetime.moc"
