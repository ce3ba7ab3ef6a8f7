// End to end: the system commands of the simulated panel as the host sees
// them, frame in, echo and reply out.

#include "panelsession.h"

#include <QtTest>

class tst_syscmd_e2e : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void bootClosesLink();
};

void tst_syscmd_e2e::replies_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("UNIX true") << "" << QByteArray("#UNIX<true>#") << QByteArray("<UNIX:NOR>")
                               << QStringList { "CXM: Unix Cmd [true] -> Exit Code 0" };
    QTest::newRow("UNIX false") << "" << QByteArray("#UNIX<false>#") << QByteArray("<UNIX:ERR>")
                                << QStringList { "CXM: Unix Cmd [false] -> Exit Code 1" };
    QTest::newRow("UNIX empty") << "" << QByteArray("#UNIX<>#") << QByteArray()
                                << QStringList { "CXM: Unix Cmd Not Start", "CXM: Unix Cmd Not End" };
    QTest::newRow("MODE 2") << "" << QByteArray("#MODE<2>#") << QByteArray("<MODE_ACK>")
                            << QStringList { "CXM: Stop service" };
    QTest::newRow("MODE 3") << "" << QByteArray("#MODE<3>#") << QByteArray("<MODE_ACK>") << QStringList();
    QTest::newRow("CPUI") << "fuses" << QByteArray("#CPUI#") << QByteArray("<CPUI:000000000000001f>")
                          << QStringList { "CFG0:00000000", "CFG1:0000001f" };
    QTest::newRow("CPUI without CFG1") << "no CFG1" << QByteArray("#CPUI#") << QByteArray()
                                       << QStringList { "ZQL:Open CFG1 error", "CXM: OTP Rd Err !!!" };
    QTest::newRow("SYNC") << "sync" << QByteArray("#SYNC#") << QByteArray("<SYNC:NOR>")
                          << QStringList { "CMX: Sync OK" };
}

void tst_syscmd_e2e::replies()
{
    QFETCH(QString, setup);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, log);

    PanelSession s;
    s.sysroot.populate();
    if (setup == "fuses") {
        s.sysroot.writeFile("sys/fsl_otp/HW_OCOTP_CFG0", "0x0\n");
        s.sysroot.writeFile("sys/fsl_otp/HW_OCOTP_CFG1", "0x1f\n");
    } else if (setup == "no CFG1") {
        QVERIFY(QFile::remove(s.sysroot.path("sys/fsl_otp/HW_OCOTP_CFG1")));
    } else if (setup == "sync") {
        s.sysroot.writeFile("bin/sync", "#!/bin/sh\necho ran >> \"$(dirname \"$0\")/../sync.log\"\n");
        QFile::setPermissions(s.sysroot.path("bin/sync"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QVERIFY(s.start());

    QCOMPARE(s.command(frame, 10000), frame + reply + "\n\r");
    for (const QString &line : log)
        QVERIFY2(s.waitForLine(line), qPrintable(line));
    if (setup == "sync")
        QCOMPARE(s.sysroot.readFile("sync.log"), QByteArray("ran\n"));
}

void tst_syscmd_e2e::bootClosesLink()
{
    PanelSession s;
    s.sysroot.populate();
    QVERIFY(s.start());

    s.send("#BOOT#");
    QCOMPARE(s.readUntil("<BOOT:NOR>"), QByteArray("#BOOT#<BOOT:NOR>"));
    // The line end after the reply is lost with the link, and nothing more
    // is read or answered.
    QCOMPARE(s.readFor(300), QByteArray());
    s.send("#HWCF#\r");
    QCOMPARE(s.readFor(300), QByteArray());
    QCOMPARE(s.process.state(), QProcess::Running);
    QVERIFY(!s.allLines().contains("CXM: RX Error"));
}

QTEST_GUILESS_MAIN(tst_syscmd_e2e)
#include "tst_syscmd_e2e.moc"
