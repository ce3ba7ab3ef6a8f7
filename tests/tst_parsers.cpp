// In process: the frame collector, the command table, the parameter parsers
// and the LOAD/RTLD frame parser, driven byte by byte or on a prepared frame.
// The hand-overs to other parts (reception, reports, sync, close) are cut off
// so that only the dispatch itself is judged, through the signals it emits.

#include "hdw_config.h"
#include "panelsession.h"
#include "usb_console.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>
#include <climits>
#include <memory>

class ConsoleProbe
{
public:
    static char *buf(USB_console &c) { return c.cmdBuf; }
    static int &index(USB_console &c) { return c.cmdIndex; }
    static int &state(USB_console &c) { return c.consoleState; }
    static int &totalSize(USB_console &c) { return c.totalSize; }
    static unsigned &remainSize(USB_console &c) { return c.remainSize; }
    static int &runtimeLoad(USB_console &c) { return c.runtimeLoad; }
    static char *fileName(USB_console &c) { return c.fileName; }
    static char *fileHash(USB_console &c) { return c.fileHash; }
    static void feed(USB_console &c, const QByteArray &bytes)
    {
        for (char b : bytes)
            c.collectCommandByte(static_cast<unsigned char>(b));
    }
    // A dispatched frame as the parsers see it: "#WORD" then the parameter
    // text, terminated where the closing '#' stood.
    static char *prepare(USB_console &c, const QByteArray &param)
    {
        memset(c.cmdBuf, 0, sizeof c.cmdBuf);
        memcpy(c.cmdBuf + 1, "TEST", 4);
        memcpy(c.cmdBuf + 5, param.constData(), static_cast<size_t>(param.size()));
        c.cmdIndex = 5 + param.size();
        return c.cmdBuf + 5;
    }
};

// Buttons count who listens to their click.
class CountingButton : public QPushButton
{
public:
    int clickReceivers() const { return receivers(SIGNAL(clicked())); }
};

static const char sentinel = '\x01';
static const QByteArray lfcr("\n\r");

class tst_parsers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void commandTable_data();
    void commandTable();
    void parameters_data();
    void parameters();
    void parsersStayInsideBuffer_data();
    void parsersStayInsideBuffer();
    void collector_data();
    void collector();
    void fileFrames_data();
    void fileFrames();
    void dispatch_data();
    void dispatch();
    void settings_data();
    void settings();
    void saveEnablesRebootOnce();

private:
    QByteArray drain();

    std::unique_ptr<TestSysroot> sysroot;
    PtyLink link;
    HDW_config *hw = nullptr;
    USB_console *console = nullptr;
};

void tst_parsers::initTestCase()
{
    sysroot.reset(new TestSysroot);
    QVERIFY(sysroot->isValid());
    sysroot->populate();
    sysroot->activate();
    QVERIFY(link.open());
    QVERIFY(link.linkAs(sysroot->path("dev/ttyGS0")));
    hw = new HDW_config;
    console = new USB_console(nullptr, hw);
    // Only the dispatch is judged here: the slots behind these hand-overs
    // belong to other parts and would start receptions, reports or programs.
    const char *const handOvers[][2] = {
        { SIGNAL(ConsoleStartXmodem()), SLOT(StartXmodem()) },
        { SIGNAL(ConsoleAskHwCfg()), SLOT(ReportHwCfg()) },
        { SIGNAL(ConsoleAskSync(bool)), SLOT(SysCmdSysn(bool)) },
        { SIGNAL(ConsoleSetBacklight(int)), SLOT(OutputBackLight(int)) },
        { SIGNAL(ConsoleAskReboot()), SLOT(SysCmdReboot()) },
    };
    for (const auto &h : handOvers)
        QVERIFY(QObject::disconnect(console, h[0], console, h[1]));
}

void tst_parsers::cleanupTestCase()
{
    delete console;
    delete hw;
}

void tst_parsers::init()
{
    ConsoleProbe::state(*console) = 0;
    ConsoleProbe::index(*console) = 0;
    link.buffer().clear();
}

// Everything the console wrote up to now (the sentinel marks the end).
QByteArray tst_parsers::drain()
{
    console->WriteChar(static_cast<unsigned char>(sentinel));
    QElapsedTimer t;
    t.start();
    while (!link.buffer().contains(sentinel) && t.elapsed() < 3000)
        link.fill(20);
    const int at = link.buffer().indexOf(sentinel);
    const QByteArray got = at < 0 ? QByteArray("<no sentinel>") : link.buffer().left(at);
    link.buffer().clear();
    return got;
}

void tst_parsers::commandTable_data()
{
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<int>("code");
    // The codes are neither consecutive nor in table order.
    QTest::newRow("first") << QByteArray("LOAD") << 1;
    QTest::newRow("after a gap") << QByteArray("DIGC") << 10;
    QTest::newRow("out of order") << QByteArray("UNIX") << 19;
    QTest::newRow("before it") << QByteArray("DORI") << 22;
    QTest::newRow("after 27") << QByteArray("GFFS") << 28;
    QTest::newRow("last") << QByteArray("DRPN") << 34;
    QTest::newRow("blank word") << QByteArray("    ") << 0;
    QTest::newRow("lower case") << QByteArray("hwcf") << 0;
    QTest::newRow("extra byte ignored") << QByteArray("HWCFX") << 3;
    QTest::newRow("short word") << QByteArray("HWC\0", 4) << 0;
    QTest::newRow("closing mark in word") << QByteArray("LOA#") << 0;
    QTest::newRow("unused code 7 name") << QByteArray("REPT") << 0;
}

void tst_parsers::commandTable()
{
    QFETCH(QByteArray, word);
    QFETCH(int, code);
    QCOMPARE(console->SearchMatchCmd(word.data()), code);
}

// A parser is named with its range where it takes one ("value 0 100").
// The outcome is the value given ("null" for no text, the text otherwise)
// and how far the parser moved (-1: it returned no position).
void tst_parsers::parameters_data()
{
    QTest::addColumn<QString>("parser");
    QTest::addColumn<QByteArray>("param");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("advance");
    const auto row = [](const char *name, const char *parser, const QByteArray &param, const QString &value,
                        int advance) { QTest::newRow(name) << QString(parser) << param << value << advance; };
    row("text", "string", "<abc>", "abc", 5);
    row("empty text", "string", "<>", "", 2);
    row("first closing bracket", "string", "<a>b>", "a", 3);
    row("blanks kept", "string", "< a b ><x>", " a b ", 7);
    row("unterminated text", "string", "<abc", "null", 0);
    row("text without opening", "string", "abc>", "null", 0);
    row("no text", "string", "", "null", 0);

    row("in range", "value 0 100", "<50>", "50", 4);
    row("empty reads as 0", "value 0 100", "<>", "0", 2);
    row("empty below range", "value 1 100", "<>", "-1", 2);
    row("blank and sign", "value 0 100", "< +7>", "7", 5);
    row("negative", "value -5 5", "<-3>", "-3", 4);
    row("above range", "value 0 100", "<101>", "-1", 5);
    row("stops at non-digit", "value 0 100", "<12abc>", "12", 7);
    row("no digits", "value 0 100", "<abc>", "0", 5);
    row("would wrap into range", "value 0 100", "<4294967346>", "-1", 12);
    row("beyond long", "value 0 2147483647", "<99999999999999999999>", "-1", 22);
    row("second parameter left", "value 0 3", "<1><0>", "1", 3);
    row("unterminated value", "value 0 100", "<50", "-1", 0);
    row("value without opening", "value 0 100", "50>", "-1", -1);
    row("no value", "value 0 100", "", "-1", -1);

    row("number", "long", "<123>", "123", 5);
    row("largest", "long", "<18446744073709551615>", "18446744073709551615", 22);
    row("beyond 64 bits", "long", "<18446744073709551616>", "18446744073709551615", 0);
    row("not a number", "long", "<12abc>", "18446744073709551615", 0);
    row("empty number", "long", "<>", "18446744073709551615", 0);
    row("unterminated number", "long", "<123", "18446744073709551615", 0);
    row("number without opening", "long", "123>", "18446744073709551615", -1);

    row("HI", "state", "<HI>", "1", 4);
    row("LO then more", "state", "<LO><HI>", "0", 4);
    row("lower-case level", "state", "<hi>", "-1", 0);
    row("level cut short", "state", "<HI", "-1", 0);
    row("longer level", "state", "<HIGH>", "-1", 0);
    row("no level", "state", "", "-1", 0);
    row("IN", "inout", "<IN>", "1", 4);
    row("OUT", "inout", "<OUT><HI>", "2", 5);
    row("UNU", "inout", "<UNU>", "0", 5);
    row("lower-case direction", "inout", "<in>", "-1", 0);
    row("direction cut short", "inout", "<OUT", "-1", 0);
    row("unknown direction", "inout", "<OU>", "-1", 0);
}

void tst_parsers::parameters()
{
    QFETCH(QString, parser);
    QFETCH(QByteArray, param);
    QFETCH(QString, value);
    QFETCH(int, advance);
    char *p = ConsoleProbe::prepare(*console, param);
    const QStringList words = parser.split(' ');
    QString got;
    char *next = nullptr;
    if (parser == "string") {
        char *text = reinterpret_cast<char *>(1);
        next = console->string_parse(&text, p);
        QVERIFY(!text || text == p + 1);
        // The closing bracket has become the text's terminator.
        got = text ? QString::fromLatin1(text) : QString("null");
    } else if (words.first() == "value") {
        int out = 12345;
        next = console->value_parse(&out, p, words.at(1).toInt(), words.at(2).toInt());
        got = QString::number(out);
    } else if (parser == "long") {
        unsigned long long out = 7;
        next = console->long_value_parse(&out, p);
        got = QString::number(qulonglong(out));
    } else {
        int out = 12345;
        next = parser == "state" ? console->state_parse(&out, p) : console->in_out_parse(&out, p);
        got = QString::number(out);
    }
    QCOMPARE(got, value);
    QCOMPARE(next ? int(next - p) : -1, advance);
}

// A buffer full to its last byte with no terminator, and '>' bytes right
// behind it (in the frame index): a parser that looked past the buffer would
// find them and write over the index.
void tst_parsers::parsersStayInsideBuffer_data()
{
    QTest::addColumn<QString>("parser");
    QTest::addColumn<int>("at");
    QTest::newRow("string") << "string" << 5;
    QTest::newRow("value") << "value" << 5;
    QTest::newRow("long value") << "long" << 5;
    QTest::newRow("level at the end") << "state" << 253;
    QTest::newRow("direction at the end") << "inout" << 252;
}

void tst_parsers::parsersStayInsideBuffer()
{
    QFETCH(QString, parser);
    QFETCH(int, at);
    char *buf = ConsoleProbe::buf(*console);
    int &index = ConsoleProbe::index(*console);
    QVERIFY2(reinterpret_cast<char *>(&index) == buf + 256, "the frame index must follow the buffer");
    memset(buf, '7', 256);
    if (parser == "state")
        memcpy(buf + at, "<HI", 3);
    else if (parser == "inout")
        memcpy(buf + at, "<OUT", 4);
    else
        buf[at] = '<';
    const int fence = 0x3E3E3E3E; // ">>>>"
    index = fence;
    char *p = buf + at;
    int value = 1;
    unsigned long long big = 1;
    char *text = nullptr;
    char *next = nullptr;
    if (parser == "string")
        next = console->string_parse(&text, p);
    else if (parser == "value")
        next = console->value_parse(&value, p, 0, INT_MAX);
    else if (parser == "long")
        next = console->long_value_parse(&big, p);
    else if (parser == "state")
        next = console->state_parse(&value, p);
    else
        next = console->in_out_parse(&value, p);
    const int indexAfter = index;
    index = 0;
    QCOMPARE(indexAfter, fence);
    QCOMPARE(next, p);
    QCOMPARE(text, static_cast<char *>(nullptr));
    if (parser != "string" && parser != "long")
        QCOMPARE(value, -1);
    if (parser == "long")
        QCOMPARE(big, ~0ULL);
}

void tst_parsers::collector_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("index");
    const QByteArray full(255, 'A');
    QTest::newRow("idle text") << QByteArray("ab>") << QByteArray("ab>") << 0 << 0;
    QTest::newRow("idle CR") << QByteArray("\r") << lfcr << 0 << 0;
    QTest::newRow("idle LF") << QByteArray("\n") << QByteArray("\n") << 0 << 0;
    QTest::newRow("open") << QByteArray("#") << QByteArray("#") << 1 << 0;
    QTest::newRow("partial") << QByteArray("#SN") << QByteArray("#SN") << 1 << 2;
    QTest::newRow("CR stored") << QByteArray("#SN\r") << QByteArray("#SN\n\r") << 1 << 3;
    QTest::newRow("frame") << QByteArray("#SNAM#") << QByteArray("#SNAM#<SNAM:ERR>\n\r") << 0 << 0;
    QTest::newRow("text then frame") << QByteArray("x\r#SNAM<a>#")
                                     << QByteArray("x\n\r#SNAM<a>#<SNAM:NOR>\n\r") << 0 << 0;
    QTest::newRow("empty frame") << QByteArray("##") << QByteArray("##") << 1 << 0;
    QTest::newRow("three marks") << QByteArray("###") << QByteArray("###") << 1 << 0;
    QTest::newRow("empty then frame") << QByteArray("##SNAM#") << QByteArray("##SNAM#<SNAM:ERR>\n\r") << 0 << 0;
    QTest::newRow("one-byte frame") << QByteArray("#A#") << QByteArray("#A#") + lfcr << 0 << 0;
    QTest::newRow("CR inside word") << QByteArray("#SN\rAM#") << QByteArray("#SN\n\rAM#\n\r") << 0 << 0;
    QTest::newRow("254 bytes") << "#" + full.left(254) << "#" + full.left(254) << 1 << 254;
    QTest::newRow("full frame dropped") << "#" + full << "#" + full << 0 << 0;
    QTest::newRow("closing at the last position") << "#" + full.left(254) + "#"
                                                  << "#" + full.left(254) + "#" + lfcr << 0 << 0;
    QTest::newRow("longest name frame") << "#SNAM<" + full.left(249) + "#"
                                        << "#SNAM<" + full.left(249) + "#<SNAM:ERR>" + lfcr << 0 << 0;
    QTest::newRow("overlong then frame") << "#" + QByteArray(300, 'A') + "#SNAM#"
                                         << "#" + QByteArray(300, 'A') + "#SNAM#<SNAM:ERR>" + lfcr << 0 << 0;
    QTest::newRow("closing mark inside parameter") << QByteArray("#SNAM<a#b>c#")
                                                   << QByteArray("#SNAM<a#<SNAM:ERR>\n\rb>c#") << 1 << 0;
}

void tst_parsers::collector()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);
    QFETCH(int, state);
    QFETCH(int, index);
    ConsoleProbe::feed(*console, input);
    QCOMPARE(drain(), output);
    QCOMPARE(ConsoleProbe::state(*console), state);
    QCOMPARE(ConsoleProbe::index(*console), index);
}

void tst_parsers::fileFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("hash");
    QTest::addColumn<int>("size");
    // Before each row: name "old.bin", hash "old", size 777.
    const QByteArray digest("0123456789abcdef0123456789ABCDEF");
    const QByteArray name51(51, 'n');
    QTest::newRow("load") << QByteArray("#LOAD<a.txt>12#") << QByteArray("<LOAD:ACK>")
                          << QByteArray("a.txt") << QByteArray("old") << 12;
    QTest::newRow("load size 0") << QByteArray("#LOAD<a.txt>0#") << QByteArray()
                                 << QByteArray("a.txt") << QByteArray("old") << 0;
    QTest::newRow("load negative size") << QByteArray("#LOAD<a.txt>-5#") << QByteArray()
                                        << QByteArray("a.txt") << QByteArray("old") << 0;
    QTest::newRow("load no size") << QByteArray("#LOAD<a.txt>#") << QByteArray()
                                  << QByteArray("a.txt") << QByteArray("old") << 777;
    QTest::newRow("load size with tail") << QByteArray("#LOAD<a.txt>12abc#") << QByteArray("<LOAD:ACK>")
                                         << QByteArray("a.txt") << QByteArray("old") << 12;
    QTest::newRow("load without name") << QByteArray("#LOAD12#") << QByteArray("<LOAD:ACK>")
                                       << QByteArray() << QByteArray("old") << 12;
    QTest::newRow("load empty name") << QByteArray("#LOAD<>34#") << QByteArray("<LOAD:ACK>")
                                     << QByteArray() << QByteArray("old") << 34;
    QTest::newRow("load unclosed name") << QByteArray("#LOAD<a.txt#") << QByteArray()
                                        << QByteArray() << QByteArray("old") << 0;
    QTest::newRow("load name of 51") << "#LOAD<" + name51 + ">5#" << QByteArray("<LOAD:ACK>")
                                     << name51 << QByteArray("old") << 5;
    QTest::newRow("load name of 52 refused") << "#LOAD<" + name51 + "x>5#" << QByteArray()
                                             << QByteArray("old.bin") << QByteArray("old") << 777;
    QTest::newRow("load size text of 11") << QByteArray("#LOAD<a>00000000012#") << QByteArray("<LOAD:ACK>")
                                          << QByteArray("a") << QByteArray("old") << 12;
    QTest::newRow("load size text of 12 refused") << QByteArray("#LOAD<a>000000000012#") << QByteArray()
                                                  << QByteArray("old.bin") << QByteArray("old") << 777;
    QTest::newRow("load long text not a number") << QByteArray("#LOAD<a>abcdefghijklmnop#") << QByteArray()
                                                 << QByteArray("a") << QByteArray("old") << 0;
    QTest::newRow("load largest size") << QByteArray("#LOAD<a>2147483647#") << QByteArray("<LOAD:ACK>")
                                       << QByteArray("a") << QByteArray("old") << INT_MAX;
    QTest::newRow("load size beyond 32 bits") << QByteArray("#LOAD<a>99999999999#") << QByteArray()
                                              << QByteArray("a") << QByteArray("old") << 0;
    QTest::newRow("load ignores digest") << "#LOAD<a>[" + digest + "]12#" << QByteArray()
                                         << QByteArray("a") << QByteArray("old") << 0;
    QTest::newRow("runtime") << "#RTLD<fw.tgz>[" + digest + "]4096#" << QByteArray("<RTLD:ACK>")
                             << QByteArray("fw.tgz") << digest << 4096;
    QTest::newRow("runtime digest of 31") << "#RTLD<fw.tgz>[" + digest.left(31) + "]4096#" << QByteArray()
                                          << QByteArray("fw.tgz") << QByteArray("old") << 0;
    QTest::newRow("runtime digest without size") << "#RTLD<fw.tgz>[" + digest + "]#" << QByteArray()
                                                 << QByteArray("fw.tgz") << digest << 777;
    QTest::newRow("runtime without digest") << QByteArray("#RTLD<fw.tgz>12#") << QByteArray("<RTLD:ACK>")
                                            << QByteArray("fw.tgz") << QByteArray("old") << 12;
    QTest::newRow("runtime long name refused") << "#RTLD<" + name51 + "x>[" + digest + "]12#" << QByteArray()
                                               << QByteArray("old.bin") << QByteArray("old") << 777;
}

void tst_parsers::fileFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, hash);
    QFETCH(int, size);
    strcpy(ConsoleProbe::fileName(*console), "old.bin");
    strcpy(ConsoleProbe::fileHash(*console), "old");
    ConsoleProbe::totalSize(*console) = 777;
    ConsoleProbe::remainSize(*console) = 777;
    ConsoleProbe::runtimeLoad(*console) = -1;
    QSignalSpy started(console, SIGNAL(ConsoleStartXmodem()));

    ConsoleProbe::feed(*console, frame);
    QCOMPARE(drain(), frame + reply + lfcr);
    QCOMPARE(started.count(), reply.isEmpty() ? 0 : 1);
    QCOMPARE(QByteArray(ConsoleProbe::fileName(*console)), name);
    QCOMPARE(QByteArray(ConsoleProbe::fileHash(*console)), hash);
    QCOMPARE(ConsoleProbe::totalSize(*console), size);
    QCOMPARE(ConsoleProbe::remainSize(*console), unsigned(size));
    QCOMPARE(ConsoleProbe::runtimeLoad(*console), frame.startsWith("#RTLD") ? 1 : 0);
    QCOMPARE(ConsoleProbe::state(*console), 0);
}

void tst_parsers::dispatch_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QVariantList>("arguments"); // empty: the signal must not come
    const QVariantList once { QVariant() };
    const QVariantList never;
    QTest::newRow("report") << QByteArray("#HWCF#") << QByteArray() << "ConsoleAskHwCfg()" << once;
    QTest::newRow("report with extra byte") << QByteArray("#HWCFX#") << QByteArray() << "ConsoleAskHwCfg()" << once;
    QTest::newRow("report lower case") << QByteArray("#hwcf#") << QByteArray() << "ConsoleAskHwCfg()" << never;
    QTest::newRow("report after empty frame") << QByteArray("##HWCF#") << QByteArray() << "ConsoleAskHwCfg()" << once;
    QTest::newRow("sync") << QByteArray("#SYNC#") << QByteArray() << "ConsoleAskSync(bool)" << QVariantList { true };
    QTest::newRow("boot") << QByteArray("#BOOT#") << QByteArray() << "ConsoleAskReboot()" << once;
    QTest::newRow("backlight 50") << QByteArray("#BKLT<50>#") << QByteArray() << "ConsoleSetBacklight(int)" << QVariantList { 50 };
    QTest::newRow("backlight 100") << QByteArray("#BKLT<100>#") << QByteArray() << "ConsoleSetBacklight(int)" << QVariantList { 100 };
    QTest::newRow("backlight 0") << QByteArray("#BKLT<0>#") << QByteArray() << "ConsoleSetBacklight(int)" << never;
    QTest::newRow("backlight missing") << QByteArray("#BKLT#") << QByteArray() << "ConsoleSetBacklight(int)" << never;
    QTest::newRow("date without text") << QByteArray("#DTIM#") << QByteArray() << "dateTimeSynced()" << once;
    QTest::newRow("date refused") << QByteArray("#DTIM<2024-02-29>#") << QByteArray("<DTIM:ERR>") << "dateTimeSynced()" << once;
    QTest::newRow("date set") << QByteArray("#DTIM<2024-02-29 13:05:07:250 60>#") << QByteArray("<DTIM:NOR>")
                              << "dateTimeSynced()" << once;
    QTest::newRow("battery check on") << QByteArray("#CHBT<1>#") << QByteArray("<CHBT:NOR>") << "" << never;
    QTest::newRow("battery check off") << QByteArray("#CHBT<0>#") << QByteArray("<CHBT:NOR>") << "" << never;
    QTest::newRow("battery check 2") << QByteArray("#CHBT<2>#") << QByteArray() << "" << never;
    QTest::newRow("unclosed name") << QByteArray("#SNAM<abc#") << QByteArray("<SNAM:ERR>") << "" << never;
    QTest::newRow("blank word") << QByteArray("#    #") << QByteArray() << "" << never;
}

void tst_parsers::dispatch()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, reply);
    QFETCH(QString, signal);
    QFETCH(QVariantList, arguments);
    std::unique_ptr<QSignalSpy> spy;
    if (!signal.isEmpty()) {
        spy.reset(new QSignalSpy(console, QByteArray("2" + signal.toLatin1()).constData()));
        QVERIFY(spy->isValid());
    }
    ConsoleProbe::feed(*console, frame);
    QCOMPARE(drain(), frame + reply + lfcr);
    QCOMPARE(ConsoleProbe::state(*console), 0);
    if (!spy)
        return;
    QCOMPARE(spy->count(), arguments.isEmpty() ? 0 : 1);
    if (!arguments.isEmpty() && arguments.first().isValid())
        QCOMPARE(spy->first(), arguments);
}

// Rows run in order on one record: each checks one field after its frame.
void tst_parsers::settings_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("orientation 1") << QByteArray("#DORI<1>#") << "orientation" << QVariant(1);
    QTest::newRow("orientation 2 ignored") << QByteArray("#DORI<2>#") << "orientation" << QVariant(1);
    QTest::newRow("orientation missing ignored") << QByteArray("#DORI#") << "orientation" << QVariant(1);
    QTest::newRow("orientation empty is 0") << QByteArray("#DORI<>#") << "orientation" << QVariant(0);
    QTest::newRow("direction pin 1") << QByteArray("#DRPN<1>#") << "rs485" << QVariant(1);
    QTest::newRow("direction pin 0") << QByteArray("#DRPN<0>#") << "rs485" << QVariant(0);
    QTest::newRow("direction pin out of range") << QByteArray("#DRPN<2>#") << "rs485" << QVariant(-1);
    QTest::newRow("alarm 2 high") << QByteArray("#ALMC<2><HI>#") << "alarm2" << QVariant(1);
    QTest::newRow("alarm 2 low") << QByteArray("#ALMC<2><LO>#") << "alarm2" << QVariant(0);
    QTest::newRow("alarm 2 no level") << QByteArray("#ALMC<2>#") << "alarm2" << QVariant(-1);
    QTest::newRow("alarm 0 ignored") << QByteArray("#ALMC<0><HI>#") << "alarm2" << QVariant(-1);
    QTest::newRow("digital output high") << QByteArray("#DIGC<3><OUT><HI>#") << "dio3" << QVariant("2/1");
    QTest::newRow("digital input drops level") << QByteArray("#DIGC<3><IN><HI>#") << "dio3" << QVariant("1/0");
    QTest::newRow("digital unused low") << QByteArray("#DIGC<3><UNU><LO>#") << "dio3" << QVariant("0/0");
    QTest::newRow("digital 16 ignored") << QByteArray("#DIGC<16><OUT><HI>#") << "dio3" << QVariant("0/0");
    QTest::newRow("digital output no level") << QByteArray("#DIGC<3><OUT>#") << "dio3" << QVariant("2/-1");
}

void tst_parsers::settings()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    ConsoleProbe::feed(*console, frame);
    QVERIFY(drain().startsWith(frame));
    QVariant got;
    if (field == "orientation")
        got = hw->readOrientation();
    else if (field == "rs485")
        got = hw->readRs485DirectionPinConf();
    else if (field == "alarm2")
        got = hwcfg_data.almOut[1];
    else
        got = QString("%1/%2").arg(hwcfg_data.dioDir[3]).arg(hwcfg_data.dioLevel[3]);
    QCOMPARE(got.toString(), value.toString());
}

void tst_parsers::saveEnablesRebootOnce()
{
    // Nothing here clicks, but the button would reach the reboot step.
    const QString reboot = QStandardPaths::findExecutable("reboot");
    QVERIFY2(reboot.startsWith(sysroot->root() + '/'), qPrintable(reboot));
    CountingButton button;
    button.setEnabled(false);
    console->rebootButton = &button;
    for (int round = 0; round < 2; ++round) {
        ConsoleProbe::feed(*console, "#SVCF#");
        const QByteArray got = drain();
        QVERIFY2(got.startsWith("#SVCF#<SVCF:") && got.endsWith(lfcr), got.constData());
        QVERIFY(button.isEnabled());
        QCOMPARE(button.clickReceivers(), 1);
    }
    console->rebootButton = nullptr;
    // Without a window's button the save still answers.
    ConsoleProbe::feed(*console, "#SVCF#");
    QVERIFY(drain().startsWith("#SVCF#<SVCF:"));
}

QTEST_MAIN(tst_parsers)
#include "tst_parsers.moc"
