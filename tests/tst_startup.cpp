// End to end: the simulation executable starts on a temporary sysroot, with or
// without the clock chip or its terminal, or refuses to start without one.

#include "panelsession.h"
#include "sample_sysroot.h"

#include <QtTest>

class tst_startup : public QObject
{
    Q_OBJECT

private slots:
    void refusesWithoutSysroot_data()
    {
        QTest::addColumn<QString>("sysroot");
        QTest::newRow("unset") << QString();
        QTest::newRow("not a directory") << QStringLiteral("/nonexistent/kvx");
        QTest::newRow("no reboot") << QStringLiteral("EMPTY");
    }
    void refusesWithoutSysroot()
    {
        QFETCH(QString, sysroot);
        QTemporaryDir empty;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("KVX_SYSROOT");
        if (!sysroot.isEmpty())
            env.insert("KVX_SYSROOT", sysroot == "EMPTY" ? empty.path() : sysroot);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KVX_SIM_EXECUTABLE_FOR_TESTS), QStringList());
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
        QCOMPARE(p.readAllStandardError().count('\n'), 1);
        QVERIFY(QDir(empty.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }

    // The start-up lines in order (a line ending in '*' matches its start), the
    // system clock set from the chip, the stored backlight on the device.
    void starts_data()
    {
        QTest::addColumn<QByteArray>("chip"); // registers 0x00..0x03, none: no chip
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("countdown"); // registers 0x18, 0x19 afterwards
        const QStringList head{ "HWI: Set BkLt 80", "HWI: Bat. Low Chk*" }, tail{ "+++CXM", "CXM: Init Success" };
        QTest::newRow("no chip") << QByteArray() << head + QStringList{ "No Ext. RTC", "HWI: SN: *" } + tail << QByteArray();
        QTest::newRow("battery fine") << QByteArray(4, '\0') << head + QStringList{ "+++RTC", "HWI: SN: *", "RTC: Sync" } + tail
                                      << QByteArray(2, '\0');
        // The low-voltage flag is cleared at every start, and a 12-hour reminder armed.
        QTest::newRow("battery low") << QByteArray("\0\0\0\x04", 4)
                                     << head + QStringList{ "+++RTC", "RTC: BatLow show every: 43200s", "HWI: SN: *", "RTC: Sync" } + tail
                                     << QByteArray("\x60\x54", 2);
    }
    void starts()
    {
        QFETCH(QByteArray, chip);
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, countdown);
        PanelSession s;
        const QDateTime time(QDate(2024, 12, 31), QTime(23, 59, 30), Qt::UTC);
        if (!chip.isNull())
            s.sysroot.writeFile("dev/i2c-2", sample::clockChip(time).replace(0, 4, chip));
        s.sysroot.writeAppFile("sys_conf.txt", "BLK<080>\n");
        QVERIFY(s.start());
        const QStringList all = s.allLines();
        int at = 0;
        for (const QString &line : lines) {
            while (at < all.size() && !(line.endsWith('*') ? all[at].startsWith(line.chopped(1)) : all[at] == line))
                ++at;
            QVERIFY2(at++ < all.size(), qPrintable(line + " missing or out of order: " + all.join('|')));
        }
        const QRegularExpression clock("^(RTC: |No Ext. RTC|\\+\\+\\+RTC)");
        QCOMPARE(all.filter(clock), lines.filter(clock)); // nothing else of the clock
        QCOMPARE(s.sysroot.readFile("sim/system_clock"), chip.isNull() ? QByteArray() : QByteArray::number(time.toSecsSinceEpoch()) + '\n');
        const QByteArray regs = s.sysroot.clockRegisters();
        QCOMPARE(regs.mid(0x03, 1) + regs.mid(0x18, 2), chip.isNull() ? QByteArray() : '\0' + countdown);
        QCOMPARE(s.sysroot.readFile("sys/class/backlight/backlight2.18/brightness"), QByteArray("16"));
        QCOMPARE(s.readFor(300), QByteArray()); // no greeting at start
    }

    // A missing terminal is reported and never opened later: there is no retry.
    void missingTerminal()
    {
        PanelSession s;
        QVERIFY(s.start(false));
        const QStringList lines = s.allLines();
        QCOMPARE(lines.mid(lines.indexOf("---CXM:Can't Open Serial Port"), 2),
                 QStringList({ "---CXM:Can't Open Serial Port", "CXM: Init Success" }));
        QVERIFY(s.link.open() && s.link.linkAs(s.sysroot.path("dev/ttyGS0")));
        s.send("#HWCF#");
        QCOMPARE(s.readFor(1500), QByteArray());
        QCOMPARE(s.process.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(tst_startup)
#include "tst_startup.moc"
