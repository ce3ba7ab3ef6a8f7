// In process: sending a file to the host with XMODEM-1K, the handshake driven
// byte by byte and the packets checked against an independent CRC.

#include "hdw_config.h"
#include "panelsession.h"
#include "usb_console.h"

#include <QLabel>
#include <QProgressBar>
#include <QTemporaryFile>
#include <QTimer>
#include <QtTest>
#include <unistd.h>

class ConsoleProbe
{
public:
    static int &consoleState(USB_console *c) { return c->consoleState; }
    static int serialFd(USB_console *c) { return c->serialFd; }
    static unsigned char &sendProgress(USB_console *c) { return c->sendProgress; }
    static QTimer *txDelayTimer(USB_console *c) { return c->txDelayTimer; }
    static QTimer *txTimer(USB_console *c) { return c->txTimer; }
    static FILE *txFile(USB_console *c) { return c->txFile; }
    static int txStarted(USB_console *c) { return c->txStarted; }
    static int rxMode(USB_console *c) { return c->rxMode; }
    static void prepareUpload(USB_console *c, const char *name, int size)
    {
        qstrncpy(c->fileName, name, sizeof c->fileName);
        c->runtimeLoad = 0;
        c->totalSize = size;
        c->remainSize = static_cast<unsigned>(size);
    }
};

// Standard output collected while active; nothing is checked meanwhile, so no
// failure message can end up in the capture.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        m_file.open();
        fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { finish(); }
    QString finish()
    {
        if (m_saved >= 0) {
            fflush(stdout);
            dup2(m_saved, STDOUT_FILENO);
            ::close(m_saved);
            m_saved = -1;
            QFile f(m_file.fileName());
            if (f.open(QIODevice::ReadOnly))
                m_text = QString::fromLocal8Bit(f.readAll());
        }
        return m_text;
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
    QString m_text;
};

struct ConsoleRig
{
    TestSysroot sysroot;
    PtyLink host;
    HDW_config *hw = nullptr;
    USB_console *console = nullptr;

    bool setUp()
    {
        sysroot.populate();
        sysroot.activate();
        if (!host.open() || !host.linkAs(sysroot.path("dev/ttyGS0")))
            return false;
        hw = new HDW_config(nullptr);
        console = new USB_console(nullptr, hw);
        return ConsoleProbe::serialFd(console) >= 0;
    }
    ~ConsoleRig()
    {
        if (console) {
            QWidget *widgets[] = { console->messageLabel, console->statusLabel, console->progressBar };
            delete console;
            for (QWidget *w : widgets)
                delete w;
        }
        delete hw;
    }
    // Exactly n bytes from the host side, or what came within ms.
    QByteArray take(int n, int ms = 3000)
    {
        QElapsedTimer t;
        t.start();
        while (host.buffer().size() < n && t.elapsed() < ms) {
            QCoreApplication::processEvents(); // the console reads the host's bytes
            host.fill(20);
        }
        const QByteArray got = host.buffer().left(n);
        host.buffer().remove(0, got.size());
        return got;
    }
    QByteArray rest(int ms = 100)
    {
        host.fill(ms);
        const QByteArray got = host.buffer();
        host.buffer().clear();
        return got;
    }
    void start(const QByteArray &name)
    {
        QByteArray text = name;
        console->TxFileStart(text.data());
    }
    void hostSends(char c) { console->TxFile_handshake(c); }
};

// Bitwise CRC-16/XMODEM, independent of the product's table-less variant.
static quint16 referenceCrc(const QByteArray &data)
{
    quint16 crc = 0;
    for (char ch : data) {
        crc ^= static_cast<quint16>(static_cast<unsigned char>(ch) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<quint16>((crc << 1) ^ 0x1021) : static_cast<quint16>(crc << 1);
    }
    return crc;
}

// Checks the frame of one packet; returns its 1024 data bytes.
static QByteArray packetData(const QByteArray &packet, int block, QString *problem)
{
    if (packet.size() != 1029) {
        *problem = QString("packet of %1 bytes").arg(packet.size());
        return QByteArray();
    }
    const QByteArray data = packet.mid(3, 1024);
    const quint16 crc = referenceCrc(data);
    if (packet.at(0) != 0x02 || quint8(packet.at(1)) != (block & 0xFF) || quint8(packet.at(2)) != 255 - (block & 0xFF)
        || quint8(packet.at(1027)) != crc >> 8 || quint8(packet.at(1028)) != (crc & 0xFF)) {
        *problem = QString("bad header or CRC in packet with block %1").arg(block);
    }
    return data;
}

static QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 977) % 251); // never mistaken for whole packets of padding
    return bytes;
}

static QByteArray padded(const QByteArray &data, int packets)
{
    return data + QByteArray(packets * 1024 - data.size(), '\x1a');
}

static const char ACK = 0x06, NAK = 0x15, CAN = 0x18, EOT = 0x04;

class tst_send : public QObject
{
    Q_OBJECT

private slots:
    void sendsWholeFile_data();
    void sendsWholeFile();
    void refusesWhatCannotBeSent_data();
    void refusesWhatCannotBeSent();
    void ignoredBeforeStart_data();
    void ignoredBeforeStart();
    void byteDuringSend_data();
    void byteDuringSend();
    void noStartTimesOut();
    void fileChangedDuringSend_data();
    void fileChangedDuringSend();
    void progress_data();
    void progress();
    void laterRequestReplacesAnnouncedOne();
    void receptionInsideDelayKeepsItsFile();
    void hostBytesRoutedByDelay();
};

void tst_send::sendsWholeFile_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("packets");

    QTest::newRow("empty") << 0 << 1;
    QTest::newRow("one byte") << 1 << 1;
    QTest::newRow("1023") << 1023 << 1;
    QTest::newRow("1024") << 1024 << 2;
    QTest::newRow("2048") << 2048 << 3;
    QTest::newRow("3000") << 3000 << 3;
    QTest::newRow("blocks wrap") << 300 * 1024 + 517 << 301;
}

void tst_send::sendsWholeFile()
{
    QFETCH(int, size);
    QFETCH(int, packets);

    ConsoleRig rig;
    QVERIFY(rig.setUp());
    const QByteArray content = pattern(size);
    rig.sysroot.writeAppFile("out.bin", content);

    StdoutCapture announce;
    rig.start("out.bin");
    const QString announced = announce.finish();
    QCOMPARE(announced, QString("CXM: GETF:out.bin\nCXM: %1 Packet + %2bytes\n").arg(packets).arg(size % 1024));
    QCOMPARE(rig.rest(), "<GETF:" + QByteArray::number(size) + ">");
    QVERIFY(ConsoleProbe::txDelayTimer(rig.console)->isActive());
    QCOMPARE(ConsoleProbe::txDelayTimer(rig.console)->interval(), 400);
    QCOMPARE(ConsoleProbe::consoleState(rig.console), 0);

    rig.console->TxDelayStart();
    QVERIFY(!ConsoleProbe::txDelayTimer(rig.console)->isActive());
    QVERIFY(ConsoleProbe::txTimer(rig.console)->isActive());
    QCOMPARE(ConsoleProbe::txTimer(rig.console)->interval(), 5000);
    QCOMPARE(ConsoleProbe::consoleState(rig.console), 2);

    QByteArray received;
    QString problem;
    StdoutCapture sending;
    rig.hostSends('C');
    for (int i = 1; i <= packets && problem.isEmpty(); ++i) {
        received += packetData(rig.take(1029), i, &problem);
        rig.hostSends(ACK);
    }
    const QByteArray end = rig.rest();
    const QString log = sending.finish();

    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(end, QByteArray(1, EOT));
    QCOMPARE(received.size(), packets * 1024);
    QVERIFY(received == padded(content, packets));
    QVERIFY(log.startsWith("CXM: Start Tx\n"));
    QVERIFY(log.endsWith("\nCXM: End Tx\n"));
    QCOMPARE(log.count('.'), packets);
    QCOMPARE(ConsoleProbe::consoleState(rig.console), 0);
    QCOMPARE(ConsoleProbe::txStarted(rig.console), 0);
    QVERIFY(!ConsoleProbe::txFile(rig.console));
    QVERIFY(!ConsoleProbe::txTimer(rig.console)->isActive());
}

void tst_send::refusesWhatCannotBeSent_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("directory") << "directory";
}

void tst_send::refusesWhatCannotBeSent()
{
    QFETCH(QString, kind);

    ConsoleRig rig;
    QVERIFY(rig.setUp());
    // A directory opens for reading but can be neither measured nor read.
    if (kind == "directory")
        rig.sysroot.makeAppDir("target");

    StdoutCapture out;
    rig.start("target");
    const QString log = out.finish();

    QCOMPARE(log, QString("CXM: GETF:target\nCXM: File Open Error\n"));
    QCOMPARE(rig.rest(), QByteArray("<GETF:-1>"));
    QVERIFY(!ConsoleProbe::txDelayTimer(rig.console)->isActive());
    QVERIFY(!ConsoleProbe::txFile(rig.console));
}

void tst_send::ignoredBeforeStart_data()
{
    QTest::addColumn<char>("byte");
    QTest::newRow("NAK") << NAK;
    QTest::newRow("ACK") << ACK;
    QTest::newRow("CAN") << CAN;
    QTest::newRow("other") << 'x';
}

void tst_send::ignoredBeforeStart()
{
    QFETCH(char, byte);

    ConsoleRig rig;
    QVERIFY(rig.setUp());
    rig.sysroot.writeAppFile("f.bin", pattern(100));
    rig.start("f.bin");
    rig.rest();
    rig.console->TxDelayStart();

    StdoutCapture out;
    rig.hostSends(byte);
    const QString log = out.finish();

    QCOMPARE(log, QString());
    QCOMPARE(rig.rest(), QByteArray());
    QCOMPARE(ConsoleProbe::consoleState(rig.console), 2);
    QVERIFY(ConsoleProbe::txTimer(rig.console)->isActive());
    QVERIFY(ConsoleProbe::txFile(rig.console));

    // The host can still start the send.
    rig.hostSends('C');
    QString problem;
    QCOMPARE(packetData(rig.take(1029), 1, &problem), padded(pattern(100), 1));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(!ConsoleProbe::txTimer(rig.console)->isActive());
}

void tst_send::byteDuringSend_data()
{
    QTest::addColumn<char>("byte");
    QTest::addColumn<bool>("resent");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<QString>("log");

    QTest::newRow("NAK resends") << NAK << true << false << "NAK,Retry\n";
    QTest::newRow("second C") << 'C' << false << false << "CXM:Unknown C\n";
    QTest::newRow("other") << 'q' << false << false << "CXM:Unknown q\n";
    QTest::newRow("CAN") << CAN << false << true << "CXM:Break Transfer\n";
}

void tst_send::byteDuringSend()
{
    QFETCH(char, byte);
    QFETCH(bool, resent);
    QFETCH(bool, ends);
    QFETCH(QString, log);

    ConsoleRig rig;
    QVERIFY(rig.setUp());
    const QByteArray content = pattern(3000);
    rig.sysroot.writeAppFile("f.bin", content);
    rig.start("f.bin");
    rig.rest();
    rig.console->TxDelayStart();
    rig.hostSends('C');
    const QByteArray first = rig.take(1029);
    QCOMPARE(first.size(), 1029);

    StdoutCapture out;
    rig.hostSends(byte);
    const QString printed = out.finish();

    QVERIFY2(printed.endsWith(log), qPrintable(printed));
    if (resent)
        QVERIFY(rig.take(1029) == first);
    QCOMPARE(rig.rest(), QByteArray());

    if (ends) {
        QCOMPARE(ConsoleProbe::consoleState(rig.console), 0);
        QCOMPARE(ConsoleProbe::txStarted(rig.console), 0);
        QVERIFY(!ConsoleProbe::txFile(rig.console));
        return;
    }
    // Nothing was skipped: the next ACK brings block 2 with the next data.
    rig.hostSends(ACK);
    QString problem;
    QCOMPARE(packetData(rig.take(1029), 2, &problem), content.mid(1024, 1024));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void tst_send::noStartTimesOut()
{
    ConsoleRig rig;
    QVERIFY(rig.setUp());
    rig.sysroot.writeAppFile("f.bin", pattern(10));
    rig.start("f.bin");
    rig.rest();
    rig.console->TxDelayStart();
    QCOMPARE(ConsoleProbe::txTimer(rig.console)->interval(), 5000);

    // The host's silence, shortened.
    ConsoleProbe::txTimer(rig.console)->setInterval(50);
    StdoutCapture out;
    const bool back = QTest::qWaitFor([&] { return ConsoleProbe::consoleState(rig.console) == 0; }, 3000);
    const QString log = out.finish();

    QVERIFY(back);
    QCOMPARE(log, QString("CXM: TX File Timeout\n"));
    QVERIFY(!ConsoleProbe::txTimer(rig.console)->isActive());
    QVERIFY(!ConsoleProbe::txFile(rig.console));
    QCOMPARE(rig.rest(), QByteArray());
}

void tst_send::fileChangedDuringSend_data()
{
    QTest::addColumn<int>("announced");
    QTest::addColumn<int>("actual");

    QTest::newRow("shrunk") << 3000 << 1500;
    QTest::newRow("emptied") << 3000 << 0;
    QTest::newRow("shrunk inside the last packet") << 3000 << 2100;
    QTest::newRow("grew") << 3000 << 5000;
}

void tst_send::fileChangedDuringSend()
{
    QFETCH(int, announced);
    QFETCH(int, actual);

    ConsoleRig rig;
    QVERIFY(rig.setUp());
    const QByteArray content = pattern(qMax(announced, actual));
    rig.sysroot.writeAppFile("f.bin", content.left(announced));
    rig.start("f.bin");
    QCOMPARE(rig.rest(), "<GETF:" + QByteArray::number(announced) + ">");
    rig.sysroot.writeAppFile("f.bin", content.left(actual));
    rig.console->TxDelayStart();

    const int packets = announced / 1024 + 1;
    QByteArray received;
    QString problem;
    StdoutCapture out;
    rig.hostSends('C');
    for (int i = 1; i <= packets && problem.isEmpty(); ++i) {
        received += packetData(rig.take(1029), i, &problem);
        rig.hostSends(ACK);
    }
    out.finish();

    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(rig.rest(), QByteArray(1, EOT));
    // What the file still held, within the announced size; padding after.
    const QByteArray expected = padded(content.left(qMin(announced, actual)), packets);
    for (int i = 0; i < received.size(); ++i)
        QVERIFY2(received.at(i) == expected.at(i), qPrintable(QString("differs at %1").arg(i)));
    QCOMPARE(received.size(), expected.size());
}

void tst_send::progress_data()
{
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("size");

    QTest::newRow("not asked") << false << 2500;
    QTest::newRow("after MODE 2") << true << 2500;
    QTest::newRow("after MODE 2, empty file") << true << 0;
}

void tst_send::progress()
{
    QFETCH(bool, follow);
    QFETCH(int, size);

    ConsoleRig rig;
    QVERIFY(rig.setUp());
    ConsoleProbe::sendProgress(rig.console) = follow ? 1 : 0;
    rig.sysroot.writeAppFile("f.bin", pattern(size));
    rig.start("f.bin");
    rig.rest();
    QCOMPARE(!rig.console->progressBar->isHidden(), follow);
    if (follow) {
        QCOMPARE(rig.console->progressBar->maximum(), size);
        QCOMPARE(rig.console->progressBar->value(), 0);
    }

    rig.console->TxDelayStart();
    rig.hostSends('C');
    const int packets = size / 1024 + 1;
    for (int i = 1; i <= packets; ++i) {
        QCOMPARE(rig.take(1029).size(), 1029);
        if (follow)
            QCOMPARE(rig.console->progressBar->value(), qMin(i * 1024, size));
        if (i == 1) {
            // A resend adds nothing.
            rig.hostSends(NAK);
            QCOMPARE(rig.take(1029).size(), 1029);
            if (follow)
                QCOMPARE(rig.console->progressBar->value(), qMin(1024, size));
        }
        rig.hostSends(ACK);
    }
    QCOMPARE(rig.rest(), QByteArray(1, EOT));
    QCOMPARE(!rig.console->progressBar->isHidden(), follow);
    if (follow)
        QCOMPARE(rig.console->progressBar->value(), size);
}

void tst_send::laterRequestReplacesAnnouncedOne()
{
    ConsoleRig rig;
    QVERIFY(rig.setUp());
    rig.sysroot.writeAppFile("a.bin", QByteArray(10, 'a'));
    rig.sysroot.writeAppFile("b.bin", QByteArray(20, 'b'));
    rig.start("a.bin");
    rig.start("b.bin");
    QCOMPARE(rig.rest(), QByteArray("<GETF:10><GETF:20>"));

    rig.console->TxDelayStart();
    rig.hostSends('C');
    QString problem;
    QCOMPARE(packetData(rig.take(1029), 1, &problem), padded(QByteArray(20, 'b'), 1));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    rig.hostSends(ACK);
    QCOMPARE(rig.rest(), QByteArray(1, EOT));
}

void tst_send::receptionInsideDelayKeepsItsFile()
{
    ConsoleRig rig;
    QVERIFY(rig.setUp());
    rig.sysroot.makeAppDir("tmp");
    rig.sysroot.writeAppFile("f.bin", pattern(10));
    rig.start("f.bin");
    FILE *announced = ConsoleProbe::txFile(rig.console);
    QVERIFY(announced);

    // The host starts an upload before the send listens.
    ConsoleProbe::prepareUpload(rig.console, "up.txt", 12);
    rig.console->StartXmodem();
    QCOMPARE(ConsoleProbe::rxMode(rig.console), 1);
    FILE *upload = ConsoleProbe::txFile(rig.console);
    QVERIFY(upload);

    rig.console->TxDelayStart();
    QVERIFY(ConsoleProbe::consoleState(rig.console) != 2);
    QVERIFY(!ConsoleProbe::txTimer(rig.console)->isActive());
    QCOMPARE(ConsoleProbe::txFile(rig.console), upload);
    // The reception took the handle over without closing the announced file.
    fclose(announced);
}

void tst_send::hostBytesRoutedByDelay()
{
    ConsoleRig rig;
    QVERIFY(rig.setUp());
    rig.sysroot.writeAppFile("f.bin", pattern(1500));
    rig.start("f.bin");
    QCOMPARE(rig.take(11), QByteArray("<GETF:1500>"));

    // Inside the first 400 ms a 'C' is console input.
    rig.host.write("C");
    QTRY_VERIFY_WITH_TIMEOUT(!ConsoleProbe::txDelayTimer(rig.console)->isActive(), 3000);
    QCOMPARE(ConsoleProbe::consoleState(rig.console), 2);
    QCOMPARE(ConsoleProbe::txStarted(rig.console), 0);
    QCOMPARE(rig.rest(), QByteArray("C")); // its echo

    rig.host.write("C");
    QTRY_VERIFY_WITH_TIMEOUT(ConsoleProbe::txStarted(rig.console) == 1, 3000);
    QString problem;
    QCOMPARE(packetData(rig.take(1029), 1, &problem), pattern(1500).left(1024));
    rig.host.write(QByteArray(1, ACK));
    QCOMPARE(packetData(rig.take(1029), 2, &problem), padded(pattern(1500).mid(1024), 1));
    rig.host.write(QByteArray(1, ACK));
    QCOMPARE(rig.take(1), QByteArray(1, EOT));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QTRY_COMPARE(ConsoleProbe::consoleState(rig.console), 0);
}

QTEST_MAIN(tst_send)
#include "tst_send.moc"
