// End to end: the simulation executable starts on a temporary sysroot, with or
// without its terminal, or refuses to start without one.

#include "panelsession.h"

#include <QtTest>

class tst_startup : public QObject
{
    Q_OBJECT

private slots:
    void refusesWithoutSysroot_data()
    {
        QTest::addColumn<QString>("sysroot");
        QTest::newRow("empty") << QString();
        QTest::newRow("not a directory") << QStringLiteral("/nonexistent/kvx");
        QTest::newRow("no reboot") << QStringLiteral("EMPTY");
    }
    void refusesWithoutSysroot()
    {
        QFETCH(QString, sysroot);
        QTemporaryDir empty;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KVX_SYSROOT", sysroot == "EMPTY" ? empty.path() : sysroot); // empty: as if unset
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KVX_SIM_EXECUTABLE_FOR_TESTS), QStringList());
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
        QCOMPARE(p.readAllStandardError().count('\n'), 1);
        QVERIFY(QDir(empty.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }

    // The start-up lines in order (a line ending in '*' matches its start) and the stored backlight on the device.
    // (With the clock chip: tst_rtc.)
    void starts()
    {
        PanelSession s;
        s.sysroot.writeAppFile("sys_conf.txt", "BLK<080>\n");
        QVERIFY(s.start());
        const QStringList all = s.allLines();
        int at = 0;
        const QStringList lines{ "HWI: Set BkLt 80", "HWI: Bat. Low Chk*", "No Ext. RTC", "HWI: SN: *", "+++CXM", "CXM: Init Success" };
        for (const QString &line : lines) {
            while (at < all.size() && !(line.endsWith('*') ? all[at].startsWith(line.chopped(1)) : all[at] == line))
                ++at;
            QVERIFY2(at++ < all.size(), qPrintable(line + " missing or out of order: " + all.join('|')));
        }
        QCOMPARE(all.filter(QRegularExpression("^(RTC: |\\+\\+\\+RTC)")), QStringList()); // nothing else of the clock
        QCOMPARE(s.sysroot.readFile("sim/system_clock"), QByteArray());
        QCOMPARE(s.sysroot.readFile("sys/class/backlight/backlight2.18/brightness"), QByteArray("16"));
        QVERIFY(!all.contains("HWI: Read <PID>/stat error"));
        QCOMPARE(s.link.readFor(300), QByteArray()); // no greeting at start
    }

    // A missing terminal is reported and never opened later: there is no retry.
    // A missing stat file of the process's own is reported too.
    void missingTerminal()
    {
        PanelSession s;
        QVERIFY(QFile::remove(s.sysroot.path("proc/self/stat")));
        QVERIFY(s.start(false));
        const QStringList lines = s.allLines();
        QVERIFY(lines.contains("HWI: Read <PID>/stat error"));
        QCOMPARE(lines.mid(lines.indexOf("---CXM:Can't Open Serial Port"), 2),
                 QStringList({ "---CXM:Can't Open Serial Port", "CXM: Init Success" }));
        QVERIFY(s.link.open() && s.link.linkAs(s.sysroot.path("dev/ttyGS0")));
        s.send("#HWCF#");
        QCOMPARE(s.link.readFor(1500), QByteArray());
        QCOMPARE(s.process.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(tst_startup)
#include "tst_startup.moc"
