// In process: the XMODEM receiver and the end of a reception, driven by a
// host-side sender on the console's pseudo-terminal.

#include "hdw_config.h"
#include "usb_console.h"
#include "xmodem.h"
#include "xmodemsender.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

class ConsoleProbe
{
public:
    static void receive(USB_console &c, const char *name, int size, int runtime, const QByteArray &hash = {})
    {
        qstrncpy(c.fileName, name, sizeof c.fileName);
        qstrncpy(c.fileHash, hash.constData(), sizeof c.fileHash);
        c.totalSize = size;
        c.remainSize = static_cast<unsigned int>(size);
        c.runtimeLoad = runtime;
        emit c.ConsoleStartXmodem();
    }
    static int status(const USB_console &c) { return c.xmodemStatus; }
    static int mode(const USB_console &c) { return c.rxMode; }
    static int assembled(const USB_console &c) { return c.rxCount; }
    static bool linkOpen(const USB_console &c) { return c.serialFd >= 0; }
    static void packetTimeOut(USB_console &c) { c.PacketTimeOut(); }
    static int upgradeState(const USB_console &c) { return c.upgradeState; }
    static void holdInstaller(USB_console &c) { c.upgradeTimer->stop(); }
};

static QByteArray pattern(int size, int seed = 0)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + seed + i / 251) & 0xFF);
    return data;
}

// A for ACK, N for NAK, C for CAN.
static QByteArray letters(const QByteArray &replies)
{
    QByteArray out;
    for (char b : replies)
        out += b == xmodem::ACK ? 'A' : b == xmodem::NAK ? 'N' : b == xmodem::CAN ? 'C' : '?';
    return out;
}

class tst_xmodem_rx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void targetPath_data();
    void targetPath();
    void unopenableTarget();
    void handshakeGivesUp();
    void transfer_data();
    void transfer();
    void rejectedPackets_data();
    void rejectedPackets();
    void bytesAfterPacketWait();
    void startWithSohRefused();
    void stalledPacket();
    void failingWrite();
    void runtimeVerification_data();
    void runtimeVerification();
    void brokenLinkEndsReception();

private:
    XmodemSender sender() { return XmodemSender(link.masterFd(), true); }
    bool rebootIsFake() { return QStandardPaths::findExecutable("reboot").startsWith(sysroot.root() + '/'); }

    TestSysroot sysroot;
    PtyLink link;
    HDW_config *hw = nullptr;
    USB_console *console = nullptr;
};

void tst_xmodem_rx::initTestCase()
{
    sysroot.populate();
    sysroot.activate();
    QVERIFY(link.open());
    QVERIFY(link.linkAs(sysroot.path("dev/ttyGS0")));
    hw = new HDW_config;
    console = new USB_console(nullptr, hw);
    QVERIFY(ConsoleProbe::linkOpen(*console));
}

void tst_xmodem_rx::init()
{
    QCOMPARE(ConsoleProbe::mode(*console), 0);
    sysroot.makeAppDir("tmp");
    sender().readFor(30);
}

void tst_xmodem_rx::cleanupTestCase()
{
    delete console->messageLabel;
    delete console->statusLabel;
    delete console->progressBar;
    delete console;
    delete hw;
}

void tst_xmodem_rx::targetPath_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("runtime");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("replyAfterCancel");

    QTest::newRow("LOAD named") << QByteArray("p.kvx") << 0 << "tmp/p.kvx" << QByteArray();
    QTest::newRow("LOAD unnamed") << QByteArray() << 0 << "tmp/tmp.txt" << QByteArray();
    QTest::newRow("RTLD named") << QByteArray("pkg.tgz") << 1 << "pkg.tgz" << QByteArray("<RTLD:ERR>");
    QTest::newRow("RTLD unnamed") << QByteArray() << 1 << "tmp.txt" << QByteArray("<RTLD:ERR>");
}

void tst_xmodem_rx::targetPath()
{
    QFETCH(QByteArray, name);
    QFETCH(int, runtime);
    QFETCH(QString, path);
    QFETCH(QByteArray, replyAfterCancel);
    QVERIFY(rebootIsFake());
    const int reboots = sysroot.rebootCount();
    console->messageLabel->clear();

    XmodemSender host = sender();
    ConsoleProbe::receive(*console, name.constData(), 100, runtime);
    QCOMPARE(host.readExactly(1, 1000), QByteArray("C"));
    QVERIFY(sysroot.appExists(path));
    QCOMPARE(console->messageLabel->text(), name.isEmpty() ? QString() : QStringLiteral("Receiving..."));

    // A cancel from the host: no ACK; an upgrade ends in the reboot.
    host.sendRaw(QByteArray(1, char(xmodem::CAN)));
    QTRY_COMPARE(ConsoleProbe::mode(*console), 0);
    QCOMPARE(ConsoleProbe::status(*console), 7);
    QCOMPARE(host.readFor(100), replyAfterCancel);
    QCOMPARE(sysroot.rebootCount(), reboots + (runtime ? 1 : 0));
}

void tst_xmodem_rx::unopenableTarget()
{
    QVERIFY(QDir(sysroot.appPath("tmp")).removeRecursively());
    XmodemSender host = sender();
    ConsoleProbe::receive(*console, "x.bin", 10, 0);
    QCOMPARE(ConsoleProbe::status(*console), 10);
    QCOMPARE(ConsoleProbe::mode(*console), 0);
    QCOMPARE(host.readFor(300), QByteArray());
}

void tst_xmodem_rx::handshakeGivesUp()
{
    XmodemSender host = sender();
    QElapsedTimer clock;
    clock.start();
    ConsoleProbe::receive(*console, "quiet.txt", 10, 0);
    QList<qint64> at;
    while (host.readExactly(1, 1000) == "C")
        at << clock.elapsed();
    QCOMPARE(at.size(), 11);
    QCOMPARE(ConsoleProbe::mode(*console), 0);
    QCOMPARE(ConsoleProbe::status(*console), 9);
    // 'C' at once, after 200 ms, then every 250 ms: 2450 ms in all. Timers
    // may be late, coarse ones up to 5% early, and each arrival is seen a
    // little late, so single gaps are checked loosely and the sum closely.
    QVERIFY2(at[1] - at[0] >= 150, qPrintable(QString::number(at[1] - at[0])));
    for (int i = 2; i < at.size(); ++i)
        QVERIFY2(at[i] - at[i - 1] >= 200, qPrintable(QString::number(at[i] - at[i - 1])));
    QVERIFY2(at.last() - at.first() >= 2300, qPrintable(QString::number(at.last() - at.first())));
}

void tst_xmodem_rx::transfer_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("lastPacketLog");

    QTest::newRow("2048 in 2 packets") << 2048 << pattern(2048) << QString();
    QTest::newRow("2500 in 3 packets") << 2500 << pattern(2500) << "CXM: Last Pk Byte: 452";
    QTest::newRow("block numbers wrap") << 300 * 1024 - 7 << pattern(300 * 1024 - 7) << "CXM: Last Pk Byte: 1017";
    QTest::newRow("EOT bytes are data") << 1024 << QByteArray(1024, char(xmodem::EOT)) << QString();
    QTest::newRow("surplus packet adds nothing") << 1500 << pattern(3000) << "CXM: Last Pk Byte: 476";
}

void tst_xmodem_rx::transfer()
{
    QFETCH(int, size);
    QFETCH(QByteArray, data);
    QFETCH(QString, lastPacketLog);
    StdoutCapture out;
    XmodemSender host = sender();
    console->setTotalFileSize(static_cast<quint64>(size));
    ConsoleProbe::receive(*console, "data.bin", size, 0);
    QCOMPARE(host.send(data), XmodemSender::Done);
    const int packets = (data.size() + 1023) / 1024;
    QCOMPARE(letters(host.replies), QByteArray(packets + 1, 'A'));
    QCOMPARE(ConsoleProbe::mode(*console), 0);
    QCOMPARE(ConsoleProbe::status(*console), 3);
    QCOMPARE(sysroot.readAppFile("tmp/data.bin"), data.left(size));
    QCOMPARE(console->currentProgress(), size);
    const QStringList last = out.lines().filter("CXM: Last Pk Byte");
    QCOMPARE(last.isEmpty() ? QString() : last.first(), lastPacketLog);
}

void tst_xmodem_rx::rejectedPackets_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("badTries"); // of the second packet; the third gets as many
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<QString>("log");

    QTest::newRow("complement") << "complement" << 1 << QByteArray("ANANAA") << "CXM: Packet Num. Err";
    QTest::newRow("sequence") << "block" << 1 << QByteArray("ANANAA") << "CXM: Packet Seq. Err 9 2";
    QTest::newRow("CRC") << "crc" << 1 << QByteArray("ANANAA") << "CXM: CRC Err : ";
    QTest::newRow("three NAKs, then good, twice") << "crc" << 3 << QByteArray("ANNNANNNAA") << "CXM: CRC Err : ";
    QTest::newRow("fourth rejection cancels") << "crc" << 4 << QByteArray("ANNNC") << "CXM: Packet Retry Overlimit";
    QTest::newRow("repeat of the accepted packet") << "repeat" << 4 << QByteArray("ANNNC") << "CXM: Packet Seq. Err 1 2";
}

void tst_xmodem_rx::rejectedPackets()
{
    QFETCH(QString, fault);
    QFETCH(int, badTries);
    QFETCH(QByteArray, replies);
    QFETCH(QString, log);
    const QByteArray data = pattern(3000);
    StdoutCapture out;
    XmodemSender host = sender();
    host.tamper = [&](int index, int attempt, QByteArray &bytes) {
        if (index == 0 || attempt >= badTries)
            return;
        if (fault == "complement") {
            bytes[2] = static_cast<char>(bytes[2] + 1);
        } else if (fault == "block") {
            bytes[1] = 9;
            bytes[2] = static_cast<char>(255 - 9);
        } else if (fault == "crc") {
            bytes[1028] = static_cast<char>(bytes[1028] ^ 1);
        } else {
            bytes = XmodemSender::packet(index, data.mid((index - 1) * 1024, 1024));
        }
    };
    ConsoleProbe::receive(*console, "retry.bin", data.size(), 0);
    const XmodemSender::Result result = host.send(data);
    const bool cancelled = replies.endsWith('C');
    QCOMPARE(result, cancelled ? XmodemSender::Cancelled : XmodemSender::Done);
    QCOMPARE(letters(host.replies), replies);
    QVERIFY2(!out.lines().filter(log).isEmpty(), qPrintable(out.text()));
    if (cancelled) {
        QCOMPARE(host.readExactly(1, 1000), QByteArray(1, char(xmodem::CAN)));
        QCOMPARE(ConsoleProbe::status(*console), 5);
    } else {
        QCOMPARE(sysroot.readAppFile("tmp/retry.bin"), data);
    }
    QCOMPARE(ConsoleProbe::mode(*console), 0);
}

void tst_xmodem_rx::bytesAfterPacketWait()
{
    // Two packets and the EOT in one burst: the receiver takes one packet at
    // a time and reads the rest as the next header bytes.
    const QByteArray data = pattern(2048, 3);
    XmodemSender host = sender();
    ConsoleProbe::receive(*console, "burst.bin", data.size(), 0);
    QCOMPARE(host.readExactly(1, 1000), QByteArray("C"));
    host.sendRaw(XmodemSender::packet(1, data.left(1024)) + XmodemSender::packet(2, data.mid(1024))
                 + char(xmodem::EOT));
    QCOMPARE(letters(host.readExactly(3, 3000)), QByteArray("AAA"));
    QCOMPARE(ConsoleProbe::status(*console), 3);
    QCOMPARE(sysroot.readAppFile("tmp/burst.bin"), data);
}

void tst_xmodem_rx::startWithSohRefused()
{
    StdoutCapture out;
    XmodemSender host = sender();
    ConsoleProbe::receive(*console, "old.bin", 128, 0);
    QCOMPARE(host.readExactly(1, 1000), QByteArray("C"));
    QByteArray soh(133, 'x');
    soh[0] = xmodem::SOH;
    soh[1] = 1;
    soh[2] = static_cast<char>(0xFE);
    host.sendRaw(soh);
    QTRY_COMPARE(ConsoleProbe::mode(*console), 0);
    QCOMPARE(ConsoleProbe::status(*console), 4);
    // One 'C' answers the refused start; the rest is console input again.
    QCOMPARE(host.readExactly(1, 1000), QByteArray("C"));
    QVERIFY(out.lines().contains("CXM: Unexpected Char \x01-0x01"));
    // The retry's "C" on standard output has no line of its own.
    QVERIFY(out.lines().contains("CRx: 1"));
    host.readFor(100);
}

void tst_xmodem_rx::stalledPacket()
{
    const QByteArray data = pattern(3000, 5);
    XmodemSender host = sender();
    ConsoleProbe::receive(*console, "stall.bin", data.size(), 0);
    QCOMPARE(host.readExactly(1, 1000), QByteArray("C"));

    // Half a packet, then silence: 2 s later an ACK, and the next bytes
    // start the packet over.
    const QByteArray first = XmodemSender::packet(1, data.left(1024));
    QElapsedTimer clock;
    clock.start();
    host.sendRaw(first.left(500));
    QCOMPARE(letters(host.readExactly(1, 4000)), QByteArray("A"));
    QVERIFY2(clock.elapsed() >= 1900, qPrintable(QString::number(clock.elapsed())));
    host.sendRaw(first);
    QCOMPARE(letters(host.readExactly(1, 2000)), QByteArray("A"));

    // The count starts again after an accepted packet; the fourth stall ends.
    host.sendRaw(XmodemSender::packet(2, data.mid(1024, 1024)).left(700));
    QTRY_COMPARE(ConsoleProbe::assembled(*console), 700);
    for (int i = 0; i < 3; ++i) {
        ConsoleProbe::packetTimeOut(*console);
        QCOMPARE(letters(host.readExactly(1, 1000)), QByteArray("A"));
    }
    ConsoleProbe::packetTimeOut(*console);
    QCOMPARE(ConsoleProbe::mode(*console), 0);
    QCOMPARE(ConsoleProbe::status(*console), 6);
    QCOMPARE(host.readFor(100), QByteArray());
    QCOMPARE(sysroot.readAppFile("tmp/stall.bin"), data.left(1024));
}

void tst_xmodem_rx::failingWrite()
{
    sysroot.writeAppFile("tmp/keep.txt", "kept");
    const QByteArray data = pattern(3000, 9);
    XmodemSender host = sender();
    ConsoleProbe::receive(*console, "full.bin", data.size(), 0);

    // The file system takes 1500 bytes and refuses the rest.
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit limit = saved;
    limit.rlim_cur = 1500;
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    const XmodemSender::Result result = host.send(data);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    QCOMPARE(result, XmodemSender::Cancelled);
    QCOMPARE(letters(host.replies + host.readExactly(1, 1000)), QByteArray("ACC"));
    QCOMPARE(ConsoleProbe::status(*console), 11);
    QCOMPARE(ConsoleProbe::mode(*console), 0);
    QCOMPARE(sysroot.readAppFile("tmp/full.bin"), data.left(1500));
    QCOMPARE(sysroot.readAppFile("tmp/keep.txt"), QByteArray("kept"));
}

void tst_xmodem_rx::runtimeVerification_data()
{
    const QByteArray data = pattern(5000, 11);
    const QByteArray digest = QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("hash");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("lowercase digest") << data << digest << QByteArray("<RTLD:NOR>");
    QTest::newRow("uppercase digest") << data << digest.toUpper() << QByteArray("<RTLD:ERR>");
    QTest::newRow("no digest") << data << QByteArray() << QByteArray("<RTLD:ERR>");
    QTest::newRow("another file's digest") << pattern(5000, 12) << digest << QByteArray("<RTLD:ERR>");
}

void tst_xmodem_rx::runtimeVerification()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, hash);
    QFETCH(QByteArray, reply);
    QVERIFY(rebootIsFake());
    const int reboots = sysroot.rebootCount();
    const bool verified = reply == "<RTLD:NOR>";
    XmodemSender host = sender();
    ConsoleProbe::receive(*console, "package.tgz", data.size(), 1, hash);
    QCOMPARE(host.send(data), XmodemSender::Done);
    QCOMPARE(host.readExactly(10, 1000), reply);
    if (verified) {
        // The installer's first step ran and armed the second.
        QCOMPARE(ConsoleProbe::upgradeState(*console), 2);
        QCOMPARE(console->statusLabel->text(), QStringLiteral("Upgrade package verification successful."));
        ConsoleProbe::holdInstaller(*console);
    } else {
        QCOMPARE(console->statusLabel->text(), QStringLiteral("Reboot now..."));
    }
    QCOMPARE(sysroot.rebootCount(), reboots + (verified ? 0 : 1));
}

void tst_xmodem_rx::brokenLinkEndsReception()
{
    const QByteArray data = pattern(3000, 13);
    XmodemSender host = sender();
    ConsoleProbe::receive(*console, "cut.bin", data.size(), 0);
    QCOMPARE(host.readExactly(1, 1000), QByteArray("C"));
    host.sendRaw(XmodemSender::packet(1, data.left(1024)));
    QCOMPARE(letters(host.readExactly(1, 1000)), QByteArray("A"));

    // Between packets no timer runs: the failed read itself ends it.
    link.close();
    QTRY_COMPARE(ConsoleProbe::mode(*console), 0);
    QCOMPARE(ConsoleProbe::status(*console), 4);
    QVERIFY(link.open());
    QVERIFY(link.linkAs(sysroot.path("dev/ttyGS0")));
    QTRY_VERIFY_WITH_TIMEOUT(ConsoleProbe::linkOpen(*console), 3000);
}

QTEST_MAIN(tst_xmodem_rx)
#include "tst_xmodem_rx.moc"
