// End to end: the simulation executable starts on a temporary sysroot.

#include "panelsession.h"

#include <QtTest>

class tst_startup : public QObject
{
    Q_OBJECT

private slots:
    void refusesWithoutSysroot_data();
    void refusesWithoutSysroot();
    void startsAndServesLink();
    void missingTerminalStillStarts();
};

void tst_startup::refusesWithoutSysroot_data()
{
    QTest::addColumn<QString>("sysroot");
    QTest::newRow("unset") << QString();
    QTest::newRow("not a directory") << QStringLiteral("/nonexistent/kvx");
    QTest::newRow("no reboot") << QStringLiteral("EMPTY");
}

void tst_startup::refusesWithoutSysroot()
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
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(err.count('\n'), 1);
    QVERIFY(QDir(empty.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

void tst_startup::startsAndServesLink()
{
    PanelSession s;
    s.sysroot.populate();
    QVERIFY(s.start());
    QVERIFY(s.allLines().contains("+++CXM"));
    QVERIFY(!s.allLines().contains("HWI: Read <PID>/stat error"));
    // No greeting at start.
    QCOMPARE(s.readFor(300), QByteArray());
}

void tst_startup::missingTerminalStillStarts()
{
    PanelSession s;
    s.sysroot.populate();
    QVERIFY(QFile::remove(s.sysroot.path("proc/self/stat")));
    QVERIFY(s.start(false));
    QVERIFY(s.allLines().contains("---CXM:Can't Open Serial Port"));
    QVERIFY(s.allLines().contains("HWI: Read <PID>/stat error")); // still said when the file is missing
    QCOMPARE(s.process.state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(tst_startup)
#include "tst_startup.moc"
