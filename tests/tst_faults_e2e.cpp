// End to end: the simulated panel survives what a host or its disk can do to
// it: a host that vanishes in the middle of a frame or a transfer, a disk that
// is full during an upload, a host that stalls, one that floods garbage, and
// ten thousand random frames. After each, an ordinary session must still work
// (unless the link closes as it must after a cut frame or download).

#include "xmodemsender.h"

#include "xmodem.h"

#include <QRandomGenerator>
#include <QtTest>

static const char ACK = xmodem::ACK, CAN = xmodem::CAN, EOT = xmodem::EOT, STX = xmodem::STX;

// The 27 command words, and those that random input must never spell after
// a '#': they start transfers, run programs, wait for the disk or close the link.
static const QList<QByteArray> commandWords{ "    ", "LOAD", "RTLD", "HWCF", "SYNC", "BOOT", "BKLT", "DIGC", "PWMC",
                                             "ALMC", "CHBT", "SVCF", "HELP", "GETF", "DORI", "UNIX", "DTIM", "FINF",
                                             "SINF", "SLTZ", "GFFS", "RMFS", "MODE", "CPUI", "SNAM", "GPFL", "DRPN" };
static const QList<QByteArray> unsafeWords{ "LOAD", "RTLD", "SYNC", "BOOT", "GETF", "UNIX" };

static bool spellsAny(const QByteArray &bytes, const QList<QByteArray> &words)
{
    for (int at = bytes.indexOf('#'); at >= 0; at = bytes.indexOf('#', at + 1)) {
        if (words.contains(bytes.mid(at + 1, 4)))
            return true;
    }
    return false;
}

static QByteArray pattern(int size, int seed)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 31 + seed * 7 + i / 253) & 0xFF);
    return data;
}

static QByteArray randomBytes(QRandomGenerator &random, int size)
{
    QByteArray bytes(size, '\0');
    for (char &b : bytes)
        b = static_cast<char>(random.bounded(256));
    return bytes;
}

// Uploads with LOAD as a host does; the panel's first 'C' ends the reply to
// the frame, so the first packet follows at once.
static bool upload(PanelSession &s, const QByteArray &name, const QByteArray &data)
{
    if (!s.command("#LOAD<" + name + ">" + QByteArray::number(data.size()) + "#").endsWith("C\n\r"))
        return false;
    for (int i = 0; i * xmodem::DataSize < data.size(); ++i) {
        s.send(XmodemSender::packet(static_cast<unsigned int>(i + 1), data.mid(i * xmodem::DataSize, xmodem::DataSize)));
        if (s.readExactly(1, 3000) != QByteArray(1, ACK))
            return false;
    }
    s.send(QByteArray(1, EOT));
    return s.readExactly(1, 3000) == QByteArray(1, ACK);
}

// Asks for the first packet of a download announced with GETF. The panel
// listens only 400 ms after its reply (its timer may be a little late); a
// 'C' that comes too early is echoed as console input, and the host asks
// again. Returns the packet's first byte.
static QByteArray startDownload(PanelSession &s, const QByteArray &name)
{
    if (!s.command("#GETF<" + name + ">#").contains("<GETF:"))
        return QByteArray();
    if (!s.readFor(400).isEmpty())
        return QByteArray();
    for (int tries = 0; tries < 50; ++tries) {
        s.send("C");
        const QByteArray b = s.readExactly(1, 1000);
        if (b != "C")
            return b;
        if (!s.readFor(20).isEmpty())
            return QByteArray();
    }
    return QByteArray();
}

// Downloads name with GETF: one ACK per packet, data up to the announced size.
static QByteArray download(PanelSession &s, const QByteArray &name, int size)
{
    QByteArray head = startDownload(s, name);
    QByteArray data;
    for (unsigned int block = 1; head == QByteArray(1, STX); block = (block + 1) & 0xFF) {
        const QByteArray packet = head + s.readExactly(xmodem::PacketSize - 1, 3000);
        const auto *bytes = reinterpret_cast<const unsigned char *>(packet.constData());
        if (packet.size() != xmodem::PacketSize || xmodem::checkPacket(bytes) != xmodem::Check::Good
            || bytes[1] != block)
            return QByteArray();
        data += packet.mid(3, xmodem::DataSize);
        s.send(QByteArray(1, ACK));
        head = s.readExactly(1, 3000);
    }
    return head == QByteArray(1, EOT) && data.size() >= size ? data.left(size) : QByteArray();
}

// An ordinary session: a setting, an upload and the download of that file.
// Empty when all went well, else what failed.
static QString servesNormally(PanelSession &s, const QByteArray &tag)
{
    const QByteArray named = s.command("#SNAM<" + tag + ">#");
    if (!named.endsWith("#SNAM<" + tag + ">#<SNAM:NOR>\n\r"))
        return "SNAM answered " + named.toHex();
    const QByteArray data = pattern(2500, tag.size());
    if (!upload(s, tag + ".bin", data))
        return "upload";
    if (s.sysroot.readAppFile("tmp/" + tag + ".bin") != data)
        return "uploaded file differs";
    if (download(s, "tmp/" + tag + ".bin", data.size()) != data)
        return "download";
    return QString();
}

// Drops the host side and puts a new terminal behind dev/ttyGS0 before the
// panel reopens it one second later.
static bool replaceHost(PanelSession &s)
{
    s.link.close();
    // A progress dot may stand before the first line.
    if (!s.waitForLineContaining("CXM: RX Error", 3000) || !s.waitForLine("Reopen USB", 1000))
        return false;
    return s.link.open() && s.link.linkAs(s.sysroot.path("dev/ttyGS0"));
}

static bool startPanel(PanelSession &s)
{
    s.sysroot.populate();
    s.sysroot.makeAppDir("tmp");
    s.sysroot.writeAppFile("tmp/three.bin", pattern(3000, 3));
    return s.start();
}

class tst_faults_e2e : public QObject
{
    Q_OBJECT

private slots:
    void hostVanishes_data();
    void hostVanishes();
    void fullDiskDuringUpload();
    void hostStalls_data();
    void hostStalls();
    void garbageFlood_data();
    void garbageFlood();
    void randomFrames();
};

void tst_faults_e2e::hostVanishes_data()
{
    QTest::addColumn<QString>("cut");
    QTest::addColumn<QStringList>("lines"); // after the reopen, in order
    QTest::addColumn<bool>("greeted");      // else the link closes for good

    QTest::newRow("inside a command frame") << "frame" << QStringList{ "Reboot: Wrong console mode" } << false;
    // The packet is left to its timer, which ends the reception after four
    // stalls; the new host is greeted meanwhile.
    QTest::newRow("inside an upload packet") << "packet"
                                             << QStringList{ "Send Boot Up", "CXM: Packet TimeOut", "CXM: File Rx End" }
                                             << true;
    // Between packets no timer runs: the reception ends at once.
    QTest::newRow("between upload packets") << "between packets"
                                            << QStringList{ "CXM: File Rx End", "Send Boot Up" } << true;
    QTest::newRow("inside a download") << "download" << QStringList{ "Reboot: Wrong console mode" } << false;
}

void tst_faults_e2e::hostVanishes()
{
    QFETCH(QString, cut);
    QFETCH(QStringList, lines);
    QFETCH(bool, greeted);

    PanelSession s;
    QVERIFY(startPanel(s));
    const QByteArray data = pattern(3000, 1);
    if (cut == "frame") {
        s.send("#SNAM<half");
        QCOMPARE(s.readExactly(10), QByteArray("#SNAM<half"));
    } else if (cut == "packet" || cut == "between packets") {
        QVERIFY(s.command("#LOAD<cut.bin>3000#").endsWith("C\n\r"));
        const QByteArray first = XmodemSender::packet(1, data.left(1024));
        if (cut == "packet") {
            s.send(first.left(500));
            // Taken in and waited on, without an answer.
            QCOMPARE(s.readFor(200), QByteArray());
        } else {
            s.send(first);
            QCOMPARE(s.readExactly(1), QByteArray(1, ACK));
        }
    } else {
        QCOMPARE(startDownload(s, "tmp/three.bin"), QByteArray(1, STX));
        QCOMPARE(s.readExactly(xmodem::PacketSize - 1).size(), xmodem::PacketSize - 1);
    }

    QVERIFY(replaceHost(s));
    for (const QString &line : lines)
        QVERIFY2(s.waitForLineContaining(line, 10000), qPrintable(line + " missing: " + s.allLines().join('|')));
    QCOMPARE(s.process.state(), QProcess::Running);
    if (!greeted) {
        QCOMPARE(s.readUntil("<BOOT:NOR>", 2000), QByteArray("<BOOT:NOR>"));
        // Closed for good: the next host is not answered.
        s.send("#SNAM<next>#");
        QCOMPARE(s.readFor(500), QByteArray());
        QCOMPARE(s.process.state(), QProcess::Running);
        return;
    }
    QVERIFY(!s.readUntil("<BOOT_UP>", 2000).isEmpty());
    // The file keeps what was accepted before the cut.
    QCOMPARE(s.sysroot.readAppFile("tmp/cut.bin"), cut == "packet" ? QByteArray() : data.left(1024));
    const QString problem = servesNormally(s, "next");
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void tst_faults_e2e::fullDiskDuringUpload()
{
    PanelSession s;
    s.sysroot.makeAppDir("tmp");
    // Every write to the target fails with "no space left on device".
    QVERIFY(QFile::link("/dev/full", s.sysroot.appPath("tmp/full.bin")));
    QVERIFY(startPanel(s));

    QVERIFY(s.command("#LOAD<full.bin>3000#").endsWith("C\n\r"));
    s.send(XmodemSender::packet(1, pattern(1024, 2)));
    // The host is told to give up instead of being left to resend.
    QCOMPARE(s.readExactly(2), QByteArray(2, CAN));
    QVERIFY(s.waitForLineContaining("CXM: File Error"));
    QVERIFY(s.waitForLine("CXM: File Rx End"));
    // No acknowledgement of an EOT, no reply: a failed LOAD is silent.
    QCOMPARE(s.readFor(300), QByteArray());
    QVERIFY(QFileInfo(s.sysroot.appPath("tmp/full.bin")).isSymLink());

    const QString problem = servesNormally(s, "after-full");
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void tst_faults_e2e::hostStalls_data()
{
    QTest::addColumn<QString>("stall");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("answers"); // what the waiting panel sends meanwhile

    QTest::newRow("before the first packet") << "start" << QStringList{ "CXM: TimeOut", "CXM: File Rx End" }
                                             << QByteArray(11, 'C');
    QTest::newRow("inside a packet") << "packet"
                                     << QStringList{ "retry, ACK 0", "retry, ACK 1", "retry, ACK 2",
                                                     "CXM: Packet TimeOut", "CXM: File Rx End" }
                                     << QByteArray(3, ACK);
    // A download waits for the host without limit; its CAN frees the console.
    QTest::newRow("inside a download, then cancels") << "download" << QStringList{ "CXM:Break Transfer" }
                                                      << QByteArray();
}

void tst_faults_e2e::hostStalls()
{
    QFETCH(QString, stall);
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, answers);

    PanelSession s;
    QVERIFY(startPanel(s));
    QByteArray got;
    if (stall == "download") {
        QCOMPARE(startDownload(s, "tmp/three.bin"), QByteArray(1, STX));
        QCOMPARE(s.readExactly(xmodem::PacketSize - 1).size(), xmodem::PacketSize - 1);
        got = s.readFor(1500);
        s.send(QByteArray(1, CAN));
    } else {
        got = s.command("#LOAD<stall.bin>3000#");
        QVERIFY(got.endsWith("C\n\r"));
        got = got.right(3).left(1); // the first start request
        if (stall == "packet") {
            s.send(XmodemSender::packet(1, pattern(1024, 4)).left(300));
            got.clear();
        }
    }
    for (const QString &line : lines)
        QVERIFY2(s.waitForLineContaining(line, 10000), qPrintable(line + " missing: " + s.allLines().join('|')));
    got += s.readFor(100);
    // A slow start may have crossed a further start request with the packet.
    if (stall == "packet")
        while (got.startsWith('C'))
            got.remove(0, 1);
    QCOMPARE(got, answers);

    const QString problem = servesNormally(s, "after-stall");
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void tst_faults_e2e::garbageFlood_data()
{
    QTest::addColumn<QString>("during");
    QTest::newRow("idle console") << "idle";
    QTest::newRow("an upload") << "upload";
    QTest::newRow("a download") << "download";
}

void tst_faults_e2e::garbageFlood()
{
    QFETCH(QString, during);

    PanelSession s;
    QVERIFY(startPanel(s));
    QRandomGenerator random(0x6b7678);
    const QByteArray garbage = randomBytes(random, 64 * 1024);
    QVERIFY(!spellsAny(garbage, commandWords));

    if (during == "upload") {
        QVERIFY(s.command("#LOAD<flood.bin>5000#").endsWith("C\n\r"));
    } else if (during == "download") {
        QCOMPARE(startDownload(s, "tmp/three.bin"), QByteArray(1, STX));
    }
    // As fast as the panel takes it, reading its answers meanwhile so that
    // none is lost to a full line.
    QByteArray answered = s.link.buffer();
    s.link.buffer().clear();
    const int chunk = 512;
    for (int at = 0; at < garbage.size(); at += chunk) {
        s.send(garbage.mid(at, chunk));
        answered += s.readFor(5);
    }
    answered += s.readFor(300);
    QCOMPARE(s.process.state(), QProcess::Running);
    // An idle console echoes every byte (a carriage return as two).
    if (during == "idle")
        QVERIFY2(answered.size() >= garbage.size(), qPrintable(QString::number(answered.size())));

    // Whatever the flood left half done (a frame, a handshake) a cancel and
    // a '#' end: the '#' closes a frame, or opens one that the next frame's
    // '#' leaves empty.
    s.send(QByteArray(1, CAN) + '#');
    s.readFor(300);
    const QString problem = servesNormally(s, "after-flood");
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

// A random frame: a command word (one of the harmless ones, a near miss or
// noise) and parameters of every form the parsers know, and some they do not.
static QByteArray randomFrame(QRandomGenerator &random)
{
    static const QList<QByteArray> words{ "HWCF", "BKLT", "DIGC", "PWMC", "ALMC", "CHBT", "SVCF", "HELP",
                                          "DORI", "DTIM", "FINF", "SINF", "SLTZ", "GFFS", "RMFS", "MODE",
                                          "CPUI", "SNAM", "GPFL", "DRPN", "hwcf", "    ", "HWC" };
    static const QList<QByteArray> keywords{ "<HI>", "<LO>", "<IN>", "<OUT>", "<UNU>", "<>", "<", ">", "<<>>",
                                             "[0123456789abcdef0123456789abcdef]", "\r", "\n" };
    QByteArray frame = "#";
    if (random.bounded(3) == 0) {
        QByteArray noise;
        do
            noise = randomBytes(random, 4).replace('#', 'x');
        while (commandWords.contains(noise));
        frame += noise;
    } else {
        frame += words.at(random.bounded(words.size()));
    }
    const int parameters = random.bounded(4);
    for (int p = 0; p < parameters; ++p) {
        switch (random.bounded(5)) {
        case 0: // a number, in range or not
            frame += '<' + QByteArray::number(random.bounded(-300, 300)) + '>';
            break;
        case 1: // a very long number
            frame += '<' + QByteArray::number(random.generate64()) + QByteArray::number(random.generate64()) + '>';
            break;
        case 2:
            frame += keywords.at(random.bounded(keywords.size()));
            break;
        case 3: { // text
            QByteArray text(random.bounded(60), '\0');
            for (char &c : text)
                c = static_cast<char>(random.bounded(' ', '~' + 1));
            frame += '<' + text.replace('#', '_').replace('>', ')') + '>';
            break;
        }
        default: // any bytes at all, now and then past the end of a frame
            frame += randomBytes(random, random.bounded(20) == 0 ? 300 : random.bounded(16)).replace('#', '!');
            break;
        }
    }
    return frame + '#';
}

void tst_faults_e2e::randomFrames()
{
    PanelSession s;
    s.sysroot.makeAppDir("fonts");
    QVERIFY(startPanel(s));
    QRandomGenerator random(20240229);

    const int frames = 10000, batch = 100;
    for (int sent = 0; sent < frames; sent += batch) {
        QByteArray bytes;
        for (int i = 0; i < batch; ++i)
            bytes += randomFrame(random);
        QVERIFY(!spellsAny(bytes, unsafeWords));
        // A frame that does nothing ends the batch; its echo and line end
        // show that the panel has taken everything before it.
        const QByteArray mark = "SINF<" + QByteArray::number(sent) + ">#";
        s.send(bytes + '#' + mark);
        QVERIFY2(!s.readUntil(mark + "\n\r", 20000).isEmpty(),
                 qPrintable(QString("batch %1: %2").arg(sent).arg(s.allLines().mid(s.allLines().size() - 5).join('|'))));
    }
    QCOMPARE(s.process.state(), QProcess::Running);
    QVERIFY(s.allLines().contains("CXM: Wrong Cmd"));

    const QString problem = servesNormally(s, "after-frames");
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

QTEST_GUILESS_MAIN(tst_faults_e2e)
#include "tst_faults_e2e.moc"
