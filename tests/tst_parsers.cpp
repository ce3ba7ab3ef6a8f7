// In process: the parameter parsers, the frame collector, the command table and the frame handlers, and
// the font family report, the removal list and the project list. The font and project fixtures lie beside
// this test program, where the console looks for them.

#include "console_on_link.h"
#include "stdoutcapture.h"

#include <QPushButton>
#include <QtTest>

// Collects a frame from idle, with file fields a reception start would overwrite.
static void feed(USB_console &c, const QByteArray &bytes)
{
    ConsoleProbe::consoleState(c) = ConsoleIdle;
    ConsoleProbe::cmdIndex(c) = 0;
    ConsoleProbe::remainSize(c) = ConsoleProbe::totalSize(c) = 777;
    ConsoleProbe::runtimeLoad(c) = -1;
    qstrncpy(ConsoleProbe::fileName(c), "old.bin", 52);
    qstrncpy(ConsoleProbe::fileHash(c), "old", 33);
    for (char b : bytes)
        ConsoleProbe::collect(c, static_cast<unsigned char>(b));
}

static QString fileFields(USB_console &c)
{
    return QString("%1|%2|%3/%4|%5").arg(ConsoleProbe::fileName(c), ConsoleProbe::fileHash(c)).arg(ConsoleProbe::totalSize(c))
        .arg(ConsoleProbe::remainSize(c)).arg(ConsoleProbe::runtimeLoad(c));
}

// Steps GFFS, GPFL or RMFS "index:text", with the font properties and the files a shell makes
// beforehand; the replies, and what the removal list file then holds (null: no file).
struct Exchange { QVariant user, system; QString files; QString steps; QByteArray replies, removal; };
Q_DECLARE_METATYPE(Exchange)

static QString besideApp(const QString &relative) { return QCoreApplication::applicationDirPath() + '/' + relative; }

class CountingButton : public QPushButton
{
public:
    int clickReceivers() const { return receivers(SIGNAL(clicked())); }
};

class tst_parsers : public QObject, ConsoleOnLink
{
    Q_OBJECT
    CountingButton button;

private slots:
    void initTestCase()
    {
        QVERIFY(start());
        cleanup();
        button.setEnabled(false);
        // These slots belong to other parts and would start receptions or programs.
        const char *const handOvers[][2] = {
            { SIGNAL(ConsoleStartXmodem()), SLOT(StartXmodem()) }, { SIGNAL(ConsoleAskSync(bool)), SLOT(SysCmdSysn(bool)) },
            { SIGNAL(ConsoleAskReboot()), SLOT(SysCmdReboot()) }, { SIGNAL(ConsoleSetBacklight(int)), SLOT(OutputBackLight(int)) } };
        for (const auto &h : handOvers)
            QVERIFY(QObject::disconnect(console, h[0], console, h[1]));
    }

    // Parser (and range), value ("null": no text), how far it moved (-1: none). "end" rows fill cmdBuf to its
    // last byte unterminated, the index behind it holding ">>>>": a parser looking past would see brackets.
    void parameters_data()
    {
        QTest::addColumn<QString>("parser");
        QTest::addColumn<QByteArray>("param");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("advance");
        const auto row = [](const char *name, const char *parser, const QByteArray &param, const QString &value,
                            int advance) { QTest::newRow(name) << QString(parser) << param << value << advance; };
        const QByteArray open = "<" + QByteArray(250, '7');
        const QString none = "18446744073709551615";
        row("blanks kept to first bracket", "string", "< a b ><x>", " a b ", 7);
        row("text without opening", "string", "abc>", "null", 0);
        row("text to the end", "string end", open, "null", 0);
        row("empty reads as 0", "value 0 100", "<>", "0", 2);
        row("stops at non-digit", "value 0 100", "<12abc>", "12", 7);
        row("would wrap into range", "value 0 100", "<4294967346>", "-1", 12);
        row("beyond long", "value 0 2147483647", "<99999999999999999999>", "-1", 22);
        row("second parameter left", "value 0 3", "<1><0>", "1", 3);
        row("value without opening", "value 0 100", "50>", "-1", -1);
        row("value to the end", "value 0 2147483647 end", open, "-1", 0);
        row("largest", "long", "<18446744073709551615>", none, 22);
        row("beyond 64 bits", "long", "<18446744073709551616>", none, 0);
        row("not a number", "long", "<12abc>", none, 0);
        row("number to the end", "long end", open, none, 0);
        row("LO then more", "state", "<LO><HI>", "0", 4);
        row("level at the end", "state end", "<HI", "-1", 0);
        row("OUT", "inout", "<OUT><HI>", "2", 5);
        row("unknown direction", "inout", "<OU>", "-1", 0);
        row("direction at the end", "inout end", "<OUT", "-1", 0);
    }

    void parameters()
    {
        QFETCH(QString, parser);
        QFETCH(QByteArray, param);
        const QStringList words = parser.split(' ');
        const bool atEnd = words.last() == "end";
        char *p = ConsoleProbe::cmdBuf(*console) + (atEnd ? 256 - param.size() : 5);
        memset(ConsoleProbe::cmdBuf(*console), atEnd ? '7' : 0, 256);
        memcpy(p, param.constData(), size_t(param.size()));
        ConsoleProbe::cmdIndex(*console) = 0x3E3E3E3E;
        char *next = nullptr, *text = nullptr;
        unsigned long long big = 7;
        int out = 12345;
        if (words.first() == "string")
            next = console->string_parse(&text, p);
        else if (words.first() == "long")
            next = console->long_value_parse(&big, p);
        else if (words.first() == "state" || words.first() == "inout")
            next = words.first() == "state" ? console->state_parse(&out, p) : console->in_out_parse(&out, p);
        else
            next = console->value_parse(&out, p, words.at(1).toInt(), words.at(2).toInt());
        QCOMPARE(std::exchange(ConsoleProbe::cmdIndex(*console), 0), 0x3E3E3E3E);
        const QString got = words.first() == "string" ? (text ? QString::fromLatin1(text) : QString("null"))
            : (words.first() == "long" ? QString::number(big) : QString::number(out));
        QTEST(got, "value");
        QTEST(next ? int(next - p) : -1, "advance");
    }

    // What a frame leaves besides its echo: collector "state/index", file fields "name|hash|size/remaining|runtime"
    // after a reception's start, a signal's first arguments ("emitted" without), settings "alarm2 dio3dir/level
    // pwm1" (in row order) or the button's; and a line it prints ("CXM: Wrong Cmd" only when expected).
    void frames_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("reply"); // after the echo
        QTest::addColumn<QString>("probe");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("log");
        const auto row = [](const char *name, const QByteArray &input, const QByteArray &reply, const char *probe,
                            const QString &expected, const QString &log = {}) {
            QTest::newRow(name) << input << reply << QString(probe) << expected << log; };
        const QString wrong = "CXM: Wrong Cmd";
        const QByteArray a254(254, 'A'), name51(51, 'n'), digest("0123456789abcdef0123456789ABCDEF");
        row("idle text", "ab>\r", "", "state", "0/0");
        row("lower-case word", "#sinf#", "\n\r", "", "", wrong);
        row("word with extra byte", "#SVCFX#", "<SVCF:NOR>\n\r", "", "", "HWI: Conf. Saved");
        row("CR stored", "#SN\r", "", "state", "1/3");
        row("text then frame", "x#SNAM<a>#", "<SNAM:NOR>\n\r", "state", "0/0");
        row("empty frame", "##", "", "state", "1/0");
        row("one-byte frame", "#A#", "\n\r", "state", "0/0", wrong);
        row("254 bytes", "#" + a254, "", "state", "1/254");
        row("full frame dropped", "#" + a254 + "A", "", "state", "0/0");
        row("longest name frame closes last", "#SNAM<" + a254.left(249) + "#", "<SNAM:ERR>\n\r", "state", "0/0");
        row("closing mark inside parameter", "#SNAM<a#", "<SNAM:ERR>\n\r", "state", "0/0");
        row("load name of 51", "#LOAD<" + name51 + ">5#", "<LOAD:ACK>\n\r", "file", "emitted," + name51 + "|old|5/5|0");
        row("load name of 52 refused", "#LOAD<" + name51 + "x>5#", "\n\r", "file", "old.bin|old|777/777|0");
        row("load size 0", "#LOAD<a>0#", "\n\r", "file", "a|old|0/0|0", "CXM: Invalid File Size");
        row("load size text of 11", "#LOAD<a>00000000012#", "<LOAD:ACK>\n\r", "file", "emitted,a|old|12/12|0");
        row("load size text of 12 refused", "#LOAD<a>000000000012#", "\n\r", "file", "old.bin|old|777/777|0");
        row("load long text not a number", "#LOAD<a>abcdefghijklmnop#", "\n\r", "file", "a|old|0/0|0");
        row("load largest size", "#LOAD<a>2147483647#", "<LOAD:ACK>\n\r", "file", "emitted,a|old|2147483647/2147483647|0");
        row("load size beyond 32 bits", "#LOAD<a>99999999999#", "\n\r", "file", "a|old|0/0|0");
        row("runtime digest without size", "#RTLD<fw.tgz>[" + digest + "]#", "\n\r", "file", "fw.tgz|" + digest + "|777/777|1");
        row("backlight 100", "#BKLT<100>#", "\n\r", "ConsoleSetBacklight(int)", "100");
        row("backlight 0", "#BKLT<0>#", "\n\r", "ConsoleSetBacklight(int)", "", wrong);
        row("backlight 101", "#BKLT<101>#", "\n\r", "ConsoleSetBacklight(int)", "", wrong);
        row("date refused", "#DTIM<2024-02-29>#", "<DTIM:ERR>\n\r", "dateTimeSynced()", "emitted");
        row("battery check 2 refused", "#CHBT<2>#", "\n\r", "", "");
        row("alarm 2 no level", "#ALMC<2>#", "\n\r", "settings", "-1 0/0 0");
        row("alarm 0 refused", "#ALMC<0><HI>#", "\n\r", "settings", "-1 0/0 0");
        row("digital input drops level", "#DIGC<3><IN><HI>#", "\n\r", "settings", "-1 1/0 0");
        row("digital output no level", "#DIGC<3><OUT>#", "\n\r", "settings", "-1 2/-1 0");
        row("pwm without value is on", "#PWMC<1>#", "\n\r", "settings", "-1 2/-1 1", "HWI: PWM-1-1");
        row("save enables reboot", "#SVCF#", "<SVCF:NOR>\n\r", "button", "1/1");
        row("save again connects once", "#SVCF#", "<SVCF:NOR>\n\r", "button", "1/1");
    }

    void frames()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, reply);
        QFETCH(QString, probe);
        QFETCH(QString, log);
        const QByteArray signal = "2" + (probe == "file" ? QByteArray("ConsoleStartXmodem()") : probe.toLatin1());
        std::unique_ptr<QSignalSpy> spy(signal.endsWith(')') ? new QSignalSpy(console, signal.constData()) : nullptr);
        console->rebootButton = probe == "button" ? &button : nullptr;
        const QStringList lines = printedLines([&] { feed(*console, input); });
        QVERIFY2(log.isEmpty() || lines.contains(log), qPrintable(lines.join('|')));
        QVERIFY2(log == "CXM: Wrong Cmd" || !lines.contains("CXM: Wrong Cmd"), qPrintable(lines.join('|')));
        QCOMPARE(sent(), QByteArray(input).replace('\r', "\n\r") + reply);
        QStringList got;
        for (const QList<QVariant> &call : spy ? *spy : QList<QList<QVariant>>())
            got << (call.isEmpty() ? QString("emitted") : call.first().toString());
        const QString field = probe == "state" ? QString("%1/%2").arg(ConsoleProbe::consoleState(*console)).arg(ConsoleProbe::cmdIndex(*console))
            : probe == "file"                  ? fileFields(*console)
            : probe == "button"   ? QString("%1/%2").arg(button.isEnabled()).arg(button.clickReceivers())
            : probe == "settings" ? QString("%1 %2/%3 %4").arg(hwcfg_data.almOut[1]).arg(hwcfg_data.dioDir[3]).arg(hwcfg_data.dioLevel[3]).arg(hwcfg_data.pwmOut[1])
                                  : QString();
        if (!field.isEmpty())
            got << field;
        QTEST(got.join(','), "expected");
    }

    void cleanup()
    {
        QDir(besideApp("fonts")).removeRecursively();
        QDir(besideApp("qml")).removeRecursively();
        ConsoleProbe::removeList(*console).clear();
        link.buffer().clear();
        console->messageLabel->clear();
    }

    // The family "Names" has each kind of path once. The properties are read anew at every call.
    void exchange_data()
    {
        QTest::addColumn<Exchange>("x");
        const QVariantMap fonts{
            { "Alpha", QStringList{ "/f/Alpha.ttf", "/f/Zed.ttf ", "/f/Alpha-Bold.ttf" } }, { "Alpha Sans", {} }, { "beta", {} },
            { QString::fromUtf8("Ärger"), {} }, { "Beta", QStringList{ "C:\\f\\beta.otf" } },
            { "Gamma", QStringList{ "/f/Shared.ttf", "/f/Gamma.ttf" } }, { "Delta", QStringList{ "/g/Shared.ttf" } },
            { "Names", QStringList{ "/", " / \\ /", "/f/..", "/f/a\nb.ttf", "/a/fonts/", "fonts2\\ / ", "  Sans.ttf \t",
                                    "/f/My Font.otf", QString::fromUtf8("/f/Ärger.ttf") } } };
        auto row = [&](const char *name, const QString &steps, const QByteArray &replies, const QString &files = {},
                       const QByteArray &removal = {}) {
            QTest::newRow(name) << Exchange{ fonts, QStringList{ "Sans", "Abc" }, files, steps, replies, removal };
        };
        row("user then system, case-sensitive, UTF-8", "GFFS",
            "<GFFS_U0:Alpha><GFFS_U1:Alpha Sans><GFFS_U2:Beta><GFFS_U3:Delta><GFFS_U4:Gamma><GFFS_U5:Names>"
            "<GFFS_U6:beta><GFFS_U7:\xc3\x84rger><GFFS_S0:Sans><GFFS_S1:Abc><GFFS_END>");
        QTest::newRow("none published") << Exchange{ {}, {}, {}, "GFFS", "<GFFS_END>", {} };
        const QByteArray A("<RMFS_ACK>"), N("<RMFS_NAK>"), alpha("Alpha-Bold.ttf\nAlpha.ttf\nZed.ttf");
        const QString dir = "mkdir fonts", old = "mkdir fonts && printf old >fonts/removal";
        row("END closes a sequence", "0:Alpha|1:Beta|2:END|3:Gamma|1:Gamma", A + A + A + N + N, dir, alpha + "\nbeta.otf");
        row("2 out of sequence", "0:Alpha|2:Beta", A + N, dir, alpha);
        row("0 with END empties, file untouched", "0:Alpha|0:END|1:Beta", A + A + N, dir, alpha);
        row("new sequence replaces", "0:Alpha|1:Beta|0:Gamma", A + A + A, dir, "Gamma.ttf\nShared.ttf");
        row("shared file once", "0:Gamma|1:Delta", A + A, dir, "Gamma.ttf\nShared.ttf");
        row("invalid index keeps list", "0:Alpha|-1:Beta", A + A, dir, alpha);
        row("unknown and case-differing family", "0:Nobody|1:alpha", A + A, old, "old");
        row("names, none not a file", "0:Names", A, dir, "My Font.otf\nSans.ttf\nfonts\nfonts2\n\xc3\x84rger.ttf");
        row("no fonts directory", "0:Alpha", A);
        row("list file not writable", "0:Alpha", A, "mkdir -p fonts/removal");
        row("files only, counted in characters, ordered by lower-case forms", "GPFL",
            "<GPFL_0:6:_a.qml><GPFL_1:9:Alarm.qml><GPFL_2:5:B.qml><GPFL_3:8:logo.png><GPFL_4:8:main.qml>"
            "<GPFL_5:13:\xc3\x9c" "bersicht.qml><GPFL_END>",
            QString::fromUtf8("mkdir -p qml/project/screens && cd qml/project && ln -s main.qml link.qml && "
                              "mkfifo pipe && touch main.qml Alarm.qml logo.png .hidden B.qml _a.qml Übersicht.qml"));
        row("no project directory", "GPFL", "<GPFL_END>");
    }

    void exchange()
    {
        QFETCH(Exchange, x);
        qApp->setProperty("userFonts", x.user);
        qApp->setProperty("systemFonts", x.system);
        QCOMPARE(QProcess::execute("sh", { "-c", "cd \"$0\" || exit 1; " + x.files, besideApp(".") }), 0);
        for (const QString &step : x.steps.split('|')) {
            QByteArray text = step.section(':', 1).toUtf8();
            step == "GFFS" ? console->reportFontFamilies() : step == "GPFL" ? console->reportProjectFileList()
                           : console->processRemoveStringList(step.section(':', 0, 0).toInt(), text.data());
        }
        QCOMPARE(sent(), x.replies);
        QCOMPARE(console->messageLabel->text(), QString(x.steps == "GPFL" ? "Sending..." : ""));
        QFile list(besideApp("fonts/removal"));
        QCOMPARE(list.open(QIODevice::ReadOnly) ? list.readAll() : QByteArray(), x.removal);
        QCOMPARE(QFileInfo(list).isFile(), !x.removal.isNull());
        QCOMPARE(QFileInfo::exists(besideApp("fonts")), x.files.contains("fonts")); // never made here
        QCOMPARE(console->deleteFontFiles(), !x.removal.isNull() || !x.steps.contains(':'));
    }
};

QTEST_MAIN(tst_parsers)
#include "tst_parsers.moc"
