// End to end: the serial link's failure path. A host that goes away and comes
// back is greeted again; BOOT, or a frame cut off by the failure, ends the
// process, and the one started after it serves the host.

#include "panelsession.h"

#include <QtTest>

class tst_link_e2e : public QObject
{
    Q_OBJECT

private slots:
    void reopenGreetsHost();
    void reopenGreetsEveryTime();
    void endsProcess_data();
    void endsProcess();
    void missingTerminalNeverAnswers();
};

// Drops the host side and puts a new terminal behind dev/ttyGS0 before the
// panel reopens it one second later.
static bool replaceHost(PanelSession &s)
{
    s.link.close();
    if (!s.waitForLine("CXM: RX Error", 3000) || !s.waitForLine("Reopen USB", 1000))
        return false;
    return s.link.open() && s.link.linkAs(s.sysroot.path("dev/ttyGS0"));
}

void tst_link_e2e::reopenGreetsHost()
{
    PanelSession s;
    s.sysroot.populate();
    QVERIFY(s.start());
    QElapsedTimer t;
    t.start();
    const bool replaced = replaceHost(s);
    QVERIFY2(replaced, qPrintable(s.allLines().join('|')));
    QCOMPARE(s.readUntil("<BOOT_UP>", 4000), QByteArray("<BOOT_UP>"));
    // About a second after the failure, not at once.
    QVERIFY2(t.elapsed() >= 900, qPrintable(QString::number(t.elapsed())));
    QVERIFY(s.waitForLine("+++CXM", 1000));
    QVERIFY(s.waitForLine("CXM: Init Success", 1000));
    QVERIFY(s.waitForLine("Send Boot Up", 1000));
    // The greeting has no line end of its own.
    QCOMPARE(s.readFor(200), QByteArray());
}

void tst_link_e2e::reopenGreetsEveryTime()
{
    PanelSession s;
    s.sysroot.populate();
    QVERIFY(s.start());
    for (int round = 0; round < 2; ++round) {
        QVERIFY(replaceHost(s));
        QCOMPARE(s.readUntil("<BOOT_UP>", 4000), QByteArray("<BOOT_UP>"));
    }
    // The reopened link still serves commands.
    QCOMPARE(s.command("#hwcf#"), QByteArray("#hwcf#\n\r"));
}

void tst_link_e2e::endsProcess_data()
{
    QTest::addColumn<bool>("cutFrame");
    QTest::newRow("BOOT") << false;
    QTest::newRow("frame cut by a link failure") << true;
}

void tst_link_e2e::endsProcess()
{
    QFETCH(bool, cutFrame);
    // The process ends: a platform that LeakSanitizer finds clean at exit.
    const QStringList platform { "QT_QPA_PLATFORM=minimal:fontconfig" };
    PanelSession s;
    s.sysroot.populate();
    QVERIFY(s.start(true, platform));
    if (cutFrame) {
        s.send("#HW");
        QCOMPARE(s.readExactly(3), QByteArray("#HW"));
        QVERIFY(replaceHost(s));
        QVERIFY(s.waitForLine("Reboot: Wrong console mode", 4000));
    } else {
        s.send("#BOOT#");
    }
    QCOMPARE(s.readUntil("<BOOT:NOR>", 2000), QByteArray(cutFrame ? "<BOOT:NOR>" : "#BOOT#<BOOT:NOR>"));
    QVERIFY(s.process.state() == QProcess::NotRunning || s.process.waitForFinished(5000)); // false if already seen to end
    QCOMPARE(s.process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(s.process.exitCode() == 0, qPrintable(s.stderrText()));
    // What the service does next: a fresh process answers the host.
    QVERIFY(s.start(true, platform));
    QCOMPARE(s.command("#SLTZ#"), QByteArray("#SLTZ#<LOTIZO:   0>\n\r"));
}

void tst_link_e2e::missingTerminalNeverAnswers()
{
    PanelSession s;
    s.sysroot.populate();
    QVERIFY(s.start(false));
    const QStringList lines = s.allLines();
    const int failed = lines.indexOf("---CXM:Can't Open Serial Port");
    QVERIFY(failed >= 0);
    QCOMPARE(lines.value(failed + 1), QStringLiteral("CXM: Init Success"));
    // A terminal that appears later is never opened: there is no retry.
    QVERIFY(s.link.open() && s.link.linkAs(s.sysroot.path("dev/ttyGS0")));
    s.send("#HWCF#");
    QCOMPARE(s.readFor(1500), QByteArray());
}

QTEST_GUILESS_MAIN(tst_link_e2e)
#include "tst_link_e2e.moc"
