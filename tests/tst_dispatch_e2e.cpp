// End to end over the pseudo-terminal: command frames are echoed, dispatched
// to their rows and closed with LF CR; the diagnostics each frame leaves on
// standard output are told apart by following it with a HELP frame, whose
// fixed lines mark where the frame's own lines end.

#include "panelsession.h"

#include <QtTest>

static const QByteArray lfcr("\n\r");
static const QByteArray digest("00112233445566778899aabbccddeeff");

static const char *const helpText[] = {
    "Valid Console Command :", "#LOAD<file_name>file_size#", "#HWCF#", "#REPT<ON/OFF>#",
    "#BKLT<nn>#", "#SYNC#", "#BOOT#", "#SINF#", "#DIGO<nn><ON/OFF>#", "#DIGI<nn>#",
    "#SALM<nn><ON/OFF>#", "#DPWM<nn><xx>#", "#ADCG<nn><xx>#", "#UNIX<sss..sss>#", "#LOGZ#",
};

class tst_dispatch_e2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void frames_data();
    void frames();
    void helpPrintsItsLines();
    void acceptedUploadsStartReception_data();
    void acceptedUploadsStartReception();
    void savedFilesHoldSettings();

private:
    // Sends the frame and a HELP frame; returns the terminal bytes up to the
    // HELP's echo and the output lines printed before the HELP text.
    bool exchange(PanelSession &s, const QByteArray &frame, QByteArray *reply, QStringList *lines);

    PanelSession shared;
};

bool tst_dispatch_e2e::exchange(PanelSession &s, const QByteArray &frame, QByteArray *reply, QStringList *lines)
{
    const int before = s.allLines().size();
    s.send(frame + "#HELP#");
    const QByteArray marker = "#HELP#" + lfcr;
    const QByteArray got = s.readUntil(marker, 10000);
    if (got.isEmpty() || !s.waitForLine("#LOGZ#", 5000))
        return false;
    *reply = got.left(got.size() - marker.size());
    const QStringList all = s.allLines().mid(before);
    *lines = all.mid(0, all.lastIndexOf("Valid Console Command :"));
    return true;
}

void tst_dispatch_e2e::initTestCase()
{
    shared.sysroot.populate();
    QVERIFY(shared.start());
}

void tst_dispatch_e2e::frames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("reply");     // what the host reads back
    QTest::addColumn<bool>("replyIsPrefix");   // the rest is another part's report
    QTest::addColumn<QStringList>("present");  // output lines, in this order
    QTest::addColumn<QStringList>("absent");   // no output line starts with these

    const QStringList none;
    const QStringList wrong { "CXM: Wrong Cmd" };
    const QByteArray name40(40, 'n');
    const QByteArray name51(51, 'f');

    QTest::newRow("echo and line end") << QByteArray("#SINF#") << QByteArray("#SINF#\n\r") << false << none << wrong;
    QTest::newRow("idle bytes echoed") << QByteArray("ab\r") << QByteArray("ab\n\r") << false << none << wrong;
    QTest::newRow("word with extra byte") << QByteArray("#HWCFX#") << QByteArray("#HWCFX#<") << true
                                          << QStringList { "CXM: HWCF" } << wrong;
    QTest::newRow("lower-case word") << QByteArray("#hwcf#") << QByteArray("#hwcf#\n\r") << false << wrong
                                     << QStringList { "CXM: HWCF" };
    QTest::newRow("blank word") << QByteArray("#    #") << QByteArray("#    #\n\r") << false << wrong << none;
    QTest::newRow("empty frame first") << QByteArray("##SNAM<abc>#") << QByteArray("##SNAM<abc>#<SNAM:NOR>\n\r")
                                       << false << QStringList { "HWI: NAME:abc" } << wrong;
    QTest::newRow("overlong then frame") << "#" + QByteArray(300, 'A') + "#SNAM<def>#"
                                         << "#" + QByteArray(300, 'A') + "#SNAM<def>#<SNAM:NOR>\n\r" << false
                                         << QStringList { "HWI: NAME:def" } << wrong;
    QTest::newRow("mark inside a command line") << QByteArray("#UNIX<echo a#b>#")
                                                << QByteArray("#UNIX<echo a#\n\rb>#") << false << none
                                                << QStringList { "CXM: Unix Cmd", "a" };

    QTest::newRow("backlight 0") << QByteArray("#BKLT<0>#") << QByteArray("#BKLT<0>#\n\r") << false << wrong
                                 << QStringList { "HWI: Set BkLt" };
    QTest::newRow("backlight 101") << QByteArray("#BKLT<101>#") << QByteArray("#BKLT<101>#\n\r") << false << wrong
                                   << QStringList { "HWI: Set BkLt" };
    QTest::newRow("backlight empty") << QByteArray("#BKLT<>#") << QByteArray("#BKLT<>#\n\r") << false << wrong
                                     << QStringList { "HWI: Set BkLt" };
    QTest::newRow("backlight 50") << QByteArray("#BKLT<50>#") << QByteArray("#BKLT<50>#\n\r") << false
                                  << QStringList { "HWI: Set BkLt 50" } << wrong;

    QTest::newRow("name of 40") << "#SNAM<" + name40 + ">#" << "#SNAM<" + name40 + ">#<SNAM:NOR>\n\r" << false
                                << QStringList { "HWI: NAME:" + QString(name40) } << wrong;
    QTest::newRow("name of 41") << "#SNAM<" + name40 + "x>#" << "#SNAM<" + name40 + "x>#<SNAM:ERR>\n\r" << false
                                << none << QStringList { "HWI: NAME", "CXM: Wrong Cmd" };
    QTest::newRow("empty name") << QByteArray("#SNAM<>#") << QByteArray("#SNAM<>#<SNAM:NOR>\n\r")
                                << false << QStringList { "HWI: NAME:" } << wrong;

    QTest::newRow("load size 0") << QByteArray("#LOAD<a.txt>0#") << QByteArray("#LOAD<a.txt>0#\n\r") << false
                                 << QStringList { "CXM: Invalid File Size" } << wrong;
    QTest::newRow("load without size") << QByteArray("#LOAD<a.txt>#") << QByteArray("#LOAD<a.txt>#\n\r") << false
                                       << none << QStringList { "CXM: Invalid File Size", "CXM: Wrong Cmd" };
    QTest::newRow("load size text too long") << QByteArray("#LOAD<a.txt>000000000012#")
                                             << QByteArray("#LOAD<a.txt>000000000012#\n\r") << false
                                             << QStringList { "CXM: File Size Too Long" } << wrong;
    QTest::newRow("load name too long") << "#LOAD<" + name51 + "g>12#" << "#LOAD<" + name51 + "g>12#\n\r" << false
                                        << QStringList { "CXM: File Name Too Long" } << wrong;
    QTest::newRow("runtime digest without size") << "#RTLD<fw.tgz>[" + digest + "]#"
                                                 << "#RTLD<fw.tgz>[" + digest + "]#\n\r" << false
                                                 << QStringList { "CXM: Stop all other service",
                                                                  "CXM: Load Runtime Program",
                                                                  "CXM: Hash Get " + QString(digest) }
                                                 << wrong;
    QTest::newRow("runtime digest of 31") << "#RTLD<fw.tgz>[" + digest.left(31) + "]12#"
                                          << "#RTLD<fw.tgz>[" + digest.left(31) + "]12#\n\r" << false
                                          << QStringList { "CXM: Load Runtime Program", "CXM: Invalid File Size" }
                                          << QStringList { "CXM: Hash Get", "CXM: Wrong Cmd" };

    QTest::newRow("pwm without value") << QByteArray("#PWMC<1>#") << QByteArray("#PWMC<1>#\n\r") << false
                                       << QStringList { "HWI: PWM-1-1" } << wrong;
    QTest::newRow("pwm off") << QByteArray("#PWMC<1><0>#") << QByteArray("#PWMC<1><0>#\n\r") << false
                             << QStringList { "HWI: PWM-1-0" } << wrong;
    QTest::newRow("alarm 0") << QByteArray("#ALMC<0><HI>#") << QByteArray("#ALMC<0><HI>#\n\r") << false << none
                             << QStringList { "HWI:", "CXM: Wrong Cmd" };
    QTest::newRow("pwm 4") << QByteArray("#PWMC<4><0>#") << QByteArray("#PWMC<4><0>#\n\r") << false << none
                           << QStringList { "HWI:", "CXM: Wrong Cmd" };
    QTest::newRow("digital 16") << QByteArray("#DIGC<16><OUT><HI>#") << QByteArray("#DIGC<16><OUT><HI>#\n\r")
                                << false << none << QStringList { "HWI:", "CXM: Wrong Cmd" };
    QTest::newRow("digital without channel") << QByteArray("#DIGC#") << QByteArray("#DIGC#\n\r") << false << none
                                             << QStringList { "HWI:", "CXM: Wrong Cmd" };

    // Rows whose work lives in other parts: the frame reaches its handler.
    QTest::newRow("time zone") << QByteArray("#SLTZ#") << QByteArray("#SLTZ#<LOTIZO:   0>\n\r") << false << none << wrong;
    QTest::newRow("cpu identity") << QByteArray("#CPUI#") << QByteArray("#CPUI#<CPUI:123456789abcdef0>\n\r") << false
                                  << none << wrong;
    QTest::newRow("mode") << QByteArray("#MODE<3>#") << QByteArray("#MODE<3>#<MODE_ACK>\n\r") << false << none << wrong;
    QTest::newRow("get missing file") << QByteArray("#GETF<missing.bin>#")
                                      << QByteArray("#GETF<missing.bin>#<GETF:-1>\n\r") << false << none << wrong;
    QTest::newRow("command line") << QByteArray("#UNIX<true>#") << QByteArray("#UNIX<true>#<UNIX:NOR>\n\r") << false
                                  << none << wrong;
    QTest::newRow("failing command line") << QByteArray("#UNIX<false>#") << QByteArray("#UNIX<false>#<UNIX:ERR>\n\r")
                                          << false << none << wrong;
    QTest::newRow("date and time") << QByteArray("#DTIM<2024-02-29 13:05:07:250 0>#")
                                   << QByteArray("#DTIM<2024-02-29 13:05:07:250 0>#<DTIM:NOR>\n\r") << false << none
                                   << wrong;
    QTest::newRow("date only") << QByteArray("#DTIM<2024-02-29>#") << QByteArray("#DTIM<2024-02-29>#<DTIM:ERR>\n\r")
                               << false << none << wrong;
}

void tst_dispatch_e2e::frames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, reply);
    QFETCH(bool, replyIsPrefix);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);

    QByteArray got;
    QStringList lines;
    QVERIFY2(exchange(shared, frame, &got, &lines), qPrintable(shared.allLines().join('|')));
    if (replyIsPrefix) {
        QVERIFY2(got.startsWith(reply) && got.endsWith(lfcr), got.constData());
    } else {
        QCOMPARE(got, reply);
    }
    int from = 0;
    for (const QString &line : present) {
        const int at = lines.indexOf(line, from);
        QVERIFY2(at >= 0, qPrintable(QString("missing \"%1\" in: %2").arg(line, lines.join('|'))));
        from = at + 1;
    }
    for (const QString &line : lines) {
        for (const QString &prefix : absent)
            QVERIFY2(!line.startsWith(prefix), qPrintable(QString("unexpected \"%1\"").arg(line)));
    }
}

void tst_dispatch_e2e::helpPrintsItsLines()
{
    const int before = shared.allLines().size();
    QCOMPARE(shared.command("#HELP#"), QByteArray("#HELP#\n\r"));
    QVERIFY(shared.waitForLine("#LOGZ#"));
    QStringList expected;
    for (const char *line : helpText)
        expected << line;
    QCOMPARE(shared.allLines().mid(before), expected);
}

void tst_dispatch_e2e::acceptedUploadsStartReception_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("ack");
    QTest::addColumn<QStringList>("present");
    QTest::newRow("load") << QByteArray("#LOAD<a.txt>12#") << QByteArray("<LOAD:ACK>") << QStringList();
    QTest::newRow("runtime") << "#RTLD<fw.tgz>[" + digest + "]4096#" << QByteArray("<RTLD:ACK>")
                             << QStringList { "CXM: Load Runtime Program", "CXM: Hash Get " + QString(digest) };
}

void tst_dispatch_e2e::acceptedUploadsStartReception()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, ack);
    QFETCH(QStringList, present);
    PanelSession s;
    s.sysroot.populate();
    s.sysroot.makeAppDir("tmp");
    QVERIFY(s.start());
    const QByteArray got = s.command(frame);
    QVERIFY2(got.endsWith(lfcr), got.constData());
    // The reception flushes the line right after the acknowledgement and
    // then asks for the first packet with 'C' before the dispatcher's LF CR:
    // the host sees a part of echo and acknowledgement, 'C', LF CR.
    const QByteArray full = frame + ack;
    QByteArray head = got.left(got.size() - lfcr.size());
    QVERIFY2(head.endsWith('C'), got.constData());
    head.chop(1);
    QVERIFY2(full.startsWith(head), got.constData());
    for (const QString &line : present)
        QVERIFY2(s.waitForLine(line, 3000), qPrintable(s.allLines().join('|')));
    QVERIFY(!s.allLines().contains("CXM: Invalid File Size"));
    QVERIFY(!s.allLines().contains("CXM: Wrong Cmd"));
}

void tst_dispatch_e2e::savedFilesHoldSettings()
{
    PanelSession s;
    s.sysroot.populate();
    QVERIFY(s.start());
    // The backlight acts at once, in twentieths; a refused level changes nothing.
    const QString brightness("sys/class/backlight/backlight2.18/brightness");
    QCOMPARE(s.command("#BKLT<50>#"), QByteArray("#BKLT<50>#\n\r"));
    QCOMPARE(s.sysroot.readFile(brightness), QByteArray("10"));
    QCOMPARE(s.command("#BKLT<0>#"), QByteArray("#BKLT<0>#\n\r"));
    QCOMPARE(s.sysroot.readFile(brightness), QByteArray("10"));

    const QByteArray settings[] = {
        "#BKLT<80>#", "#DIGC<0><OUT><HI>#", "#DIGC<1><OUT><LO>#", "#DIGC<2><IN>#", "#DIGC<15><UNU>#",
        "#PWMC<1>#", "#PWMC<3><0>#", "#ALMC<2><HI>#", "#ALMC<1><LO>#", "#DRPN<1>#", "#DORI<1>#",
        "#SNAM<Line 4 press>#", "#CHBT<0>#",
        // Out of range: nothing of these reaches the files.
        "#PWMC<4><1>#", "#ALMC<3><HI>#", "#DIGC<16><OUT><HI>#", "#DORI<2>#",
    };
    for (const QByteArray &frame : settings) {
        const QByteArray got = s.command(frame);
        QVERIFY2(got.startsWith(frame) && got.endsWith(lfcr), got.constData());
    }
    QCOMPARE(s.sysroot.readFile(brightness), QByteArray("16"));
    QCOMPARE(s.command("#SVCF#"), QByteArray("#SVCF#<SVCF:NOR>\n\r"));

    QByteArray sysConf = "BLK<080>\nDIO<00>H\nDIO<01>L\nDIO<02>I\n";
    for (int channel = 3; channel < 16; ++channel)
        sysConf += QString::asprintf("DIO<%02d>U\n", channel).toLatin1();
    sysConf += "PWM<0>L\nPWM<1>H\nPWM<2>L\nPWM<3>L\nALM<01>L\nALM<02>H\nCOM<0>N\nDIR<1>\nORI<1>\n";
    QCOMPARE(s.sysroot.readAppFile("sys_conf.txt"), sysConf);
    QCOMPARE(s.sysroot.readAppFile("device_name.txt"), QByteArray("NAM<Line 4 press>\n"));
    QCOMPARE(s.sysroot.readAppFile("lowBatteryConf.txt"), QByteArray("CKB<0>\n"));
}

QTEST_GUILESS_MAIN(tst_dispatch_e2e)
#include "tst_dispatch_e2e.moc"
