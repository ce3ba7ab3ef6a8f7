// End to end over the pseudo-terminal: frames are echoed, dispatched and closed with LF CR. A HELP
// frame after each one prints fixed lines that mark where the frame's own diagnostics end.

#include "panelsession.h"

#include <QtTest>

static const QByteArray lfcr("\n\r");
static const QByteArray digest("00112233445566778899aabbccddeeff");
static const QStringList helpText{ "Valid Console Command :", "#LOAD<file_name>file_size#", "#HWCF#", "#REPT<ON/OFF>#",
                                   "#BKLT<nn>#", "#SYNC#", "#BOOT#", "#SINF#", "#DIGO<nn><ON/OFF>#", "#DIGI<nn>#",
                                   "#SALM<nn><ON/OFF>#", "#DPWM<nn><xx>#", "#ADCG<nn><xx>#", "#UNIX<sss..sss>#", "#LOGZ#" };

class tst_dispatch_e2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void frames_data();
    void frames();
    void savedFilesHoldSettings();
    void runtimeUploadStartsReception(); // last: it leaves the shared panel receiving

private:
    PanelSession shared;
};

// An accepted upload flushes the line after its acknowledgement and asks for the first packet with
// 'C' before the LF CR: the host sees part of echo and acknowledgement, then 'C', LF CR.
static bool startsReception(PanelSession &s, const QByteArray &frame, const QByteArray &ack)
{
    const QByteArray got = s.command(frame);
    return got.endsWith("C" + lfcr) && (frame + ack).startsWith(got.chopped(3));
}

void tst_dispatch_e2e::initTestCase()
{
    shared.sysroot.populate();
    shared.sysroot.makeAppDir("tmp");
    QVERIFY(shared.start());
}

// The reply after the echo ("<": a report follows), output lines that must appear in this order,
// and line starts that must not ("CXM: Wrong Cmd" never may unless expected).
void tst_dispatch_e2e::frames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    const auto row = [](const char *name, const QByteArray &frame, const QByteArray &reply, const QStringList &present,
                        const QStringList &absent) { QTest::newRow(name) << frame << reply << present << absent; };
    const QByteArray name40(40, 'n');
    const QString wrong("CXM: Wrong Cmd");
    row("echo and line end", "#SINF#", "", {}, {});
    row("word with extra byte", "#HWCFX#", "<", { "CXM: HWCF" }, {});
    row("lower-case word", "#hwcf#", "", { wrong }, { "CXM: HWCF" });
    row("empty frame first", "##SNAM<abc>#", "<SNAM:NOR>", { "HWI: NAME:abc" }, {});
    row("overlong then frame", "#" + QByteArray(300, 'A') + "#SNAM<def>#", "<SNAM:NOR>", { "HWI: NAME:def" }, {});
    row("backlight 0", "#BKLT<0>#", "", { wrong }, { "HWI: Set BkLt" });
    row("backlight 101", "#BKLT<101>#", "", { wrong }, { "HWI: Set BkLt" });
    row("backlight empty", "#BKLT<>#", "", { wrong }, { "HWI: Set BkLt" });
    row("backlight 50", "#BKLT<50>#", "", { "HWI: Set BkLt 50" }, {});
    row("name of 40", "#SNAM<" + name40 + ">#", "<SNAM:NOR>", { "HWI: NAME:" + QString(name40) }, {});
    row("name of 41", "#SNAM<" + name40 + "x>#", "<SNAM:ERR>", {}, { "HWI: NAME" });
    row("empty name", "#SNAM<>#", "<SNAM:NOR>", { "HWI: NAME:" }, {});
    row("load size 0", "#LOAD<a.txt>0#", "", { "CXM: Invalid File Size" }, {});
    row("load without size", "#LOAD<a.txt>#", "", {}, { "CXM: Invalid File Size" });
    row("load size text too long", "#LOAD<a.txt>000000000012#", "", { "CXM: File Size Too Long" }, {});
    row("load name too long", "#LOAD<" + QByteArray(52, 'f') + ">12#", "", { "CXM: File Name Too Long" }, {});
    row("runtime digest of 31", "#RTLD<fw.tgz>[" + digest.left(31) + "]12#", "",
        { "CXM: Load Runtime Program", "CXM: Invalid File Size" }, { "CXM: Hash Get" });
    row("pwm without value", "#PWMC<1>#", "", { "HWI: PWM-1-1" }, {});
    row("pwm off", "#PWMC<1><0>#", "", { "HWI: PWM-1-0" }, {});
    row("alarm 0", "#ALMC<0><HI>#", "", {}, { "HWI:" });
    row("pwm 4", "#PWMC<4><0>#", "", {}, { "HWI:" });
    row("digital 16", "#DIGC<16><OUT><HI>#", "", {}, { "HWI:" });
}

void tst_dispatch_e2e::frames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    const int before = shared.allLines().size();
    shared.send(frame + "#HELP#");
    QByteArray got = shared.readUntil("#HELP#" + lfcr, 10000);
    QVERIFY2(got.endsWith("#HELP#" + lfcr) && shared.waitForLine("#LOGZ#"), qPrintable(shared.allLines().join('|')));
    got.chop(8);
    const QStringList all = shared.allLines().mid(before);
    const QStringList lines = all.mid(0, all.size() - helpText.size());
    QCOMPARE(all.mid(lines.size()), helpText);
    QVERIFY2(reply == "<" ? got.startsWith(frame + reply) && got.endsWith(lfcr) : got == frame + reply + lfcr, got.constData());
    int from = 0;
    for (const QString &line : present)
        QVERIFY2((from = lines.indexOf(line, from) + 1) > 0, qPrintable(line + " missing: " + lines.join('|')));
    if (!present.contains("CXM: Wrong Cmd"))
        absent << "CXM: Wrong Cmd";
    QVERIFY2(lines.filter(QRegularExpression("^(" + absent.join('|') + ")")).isEmpty(), qPrintable(lines.join('|')));
}

void tst_dispatch_e2e::savedFilesHoldSettings()
{
    PanelSession s;
    s.sysroot.populate();
    s.sysroot.makeAppDir("tmp");
    QVERIFY(s.start());
    // The backlight acts at once, in twentieths; a refused level changes nothing.
    const QString brightness("sys/class/backlight/backlight2.18/brightness");
    for (const QByteArray &frame : { QByteArray("#BKLT<50>#"), QByteArray("#BKLT<0>#") })
        QVERIFY2(s.command(frame).startsWith(frame) && s.sysroot.readFile(brightness) == "10", frame.constData());
    const QByteArray settings[] = {
        "#BKLT<80>#", "#DIGC<0><OUT><HI>#", "#DIGC<1><OUT><LO>#", "#DIGC<2><IN>#", "#DIGC<15><UNU>#",
        "#PWMC<1>#", "#PWMC<3><0>#", "#ALMC<2><HI>#", "#ALMC<1><LO>#", "#DRPN<1>#", "#DORI<1>#",
        "#SNAM<Line 4 press>#", "#CHBT<0>#",
        "#PWMC<4><1>#", "#ALMC<3><HI>#", "#DIGC<16><OUT><HI>#", "#DORI<2>#", "#DIGC#", // out of range: change nothing
    };
    for (const QByteArray &frame : settings)
        QVERIFY2(s.command(frame).startsWith(frame), frame.constData());
    QCOMPARE(s.sysroot.readFile(brightness), QByteArray("16"));
    QCOMPARE(s.command("#SVCF#"), QByteArray("#SVCF#<SVCF:NOR>\n\r"));
    QByteArray sysConf = "BLK<080>\nDIO<00>H\nDIO<01>L\nDIO<02>I\n";
    for (int channel = 3; channel < 16; ++channel)
        sysConf += QString::asprintf("DIO<%02d>U\n", channel).toLatin1();
    sysConf += "PWM<0>L\nPWM<1>H\nPWM<2>L\nPWM<3>L\nALM<01>L\nALM<02>H\nCOM<0>N\nDIR<1>\nORI<1>\n";
    QCOMPARE(s.sysroot.readAppFile("sys_conf.txt"), sysConf);
    QCOMPARE(s.sysroot.readAppFile("device_name.txt"), QByteArray("NAM<Line 4 press>\n"));
    QCOMPARE(s.sysroot.readAppFile("lowBatteryConf.txt"), QByteArray("CKB<0>\n"));
    QVERIFY(startsReception(s, "#LOAD<a.txt>12#", "<LOAD:ACK>"));
}

void tst_dispatch_e2e::runtimeUploadStartsReception()
{
    QVERIFY(startsReception(shared, "#RTLD<fw.tgz>[" + digest + "]4096#", "<RTLD:ACK>"));
    for (const QString &line : QStringList{ "CXM: Stop all other service", "CXM: Load Runtime Program", "CXM: Hash Get " + digest })
        QVERIFY2(shared.waitForLine(line, 3000), qPrintable(shared.allLines().join('|')));
}

QTEST_GUILESS_MAIN(tst_dispatch_e2e)
#include "tst_dispatch_e2e.moc"
