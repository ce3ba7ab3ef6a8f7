// End to end: the host downloads files from the simulated panel with GETF,
// once driven byte by byte and once with lrzsz's rx as the real receiver.

#include "panelsession.h"

#include <QtTest>
#include <poll.h>
#include <unistd.h>

static const char ACK = 0x06, NAK = 0x15, EOT = 0x04;

static QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 977) % 251);
    return bytes;
}

// Bitwise CRC-16/XMODEM.
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

static bool isPacket(const QByteArray &p, int block, const QByteArray &data)
{
    const quint16 crc = referenceCrc(data);
    return p.size() == 1029 && p.at(0) == 0x02 && quint8(p.at(1)) == block && quint8(p.at(2)) == 255 - block
        && p.mid(3, 1024) == data && quint8(p.at(1027)) == crc >> 8 && quint8(p.at(1028)) == (crc & 0xFF);
}

// Runs rx -c on a pseudo-terminal of its own and relays between it and the
// panel's link. The panel's bytes are held until rx has been quiet for 50 ms,
// as a real line's turnaround would: rx drops its pending input right after
// each ACK it writes.
static QString relayToRx(PanelSession &s, const QString &dir, const QString &name, int ms)
{
    PtyLink tty;
    if (!tty.open())
        return "no terminal for rx";
    QProcess rx;
    rx.setWorkingDirectory(dir);
    rx.setStandardInputFile(tty.slaveName());
    rx.setStandardOutputFile(tty.slaveName());
    rx.start("/usr/bin/rx", { "-c", name });
    if (!rx.waitForStarted(5000))
        return "rx did not start";

    QElapsedTimer clock;
    clock.start();
    qint64 rxLastWrote = 0;
    QByteArray held = s.link.buffer(); // whatever the panel sent already
    s.link.buffer().clear();
    char chunk[4096];
    while (clock.elapsed() < ms) {
        struct pollfd fds[2] = { { tty.masterFd(), POLLIN, 0 }, { s.link.masterFd(), POLLIN, 0 } };
        poll(fds, 2, 10);
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(tty.masterFd(), chunk, sizeof chunk);
            if (n > 0) {
                s.link.write(QByteArray(chunk, int(n)));
                rxLastWrote = clock.elapsed();
            }
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::read(s.link.masterFd(), chunk, sizeof chunk);
            if (n > 0)
                held.append(chunk, int(n));
        }
        if (!held.isEmpty() && clock.elapsed() - rxLastWrote >= 50) {
            tty.write(held);
            held.clear();
        }
        if (rx.state() == QProcess::NotRunning || rx.waitForFinished(0))
            break;
    }
    if (rx.state() != QProcess::NotRunning) {
        rx.kill();
        rx.waitForFinished(5000);
        return "rx did not finish: " + QString::fromLocal8Bit(rx.readAllStandardError());
    }
    if (rx.exitStatus() != QProcess::NormalExit || rx.exitCode() != 0)
        return QString("rx failed (%1): %2").arg(rx.exitCode()).arg(QString::fromLocal8Bit(rx.readAllStandardError()));
    return QString();
}

class tst_download_e2e : public QObject
{
    Q_OBJECT

private slots:
    void byteByByte();
    void lrzszReceives_data();
    void lrzszReceives();
};

void tst_download_e2e::byteByByte()
{
    PanelSession s;
    s.sysroot.populate();
    const QByteArray content = pattern(2048);
    s.sysroot.writeAppFile("two.bin", content);
    QVERIFY(s.start());

    QCOMPARE(s.command("#GETF<two.bin>#"), QByteArray("#GETF<two.bin>#<GETF:2048>\n\r"));
    QVERIFY(s.waitForLine("CXM: 3 Packet + 0bytes"));
    // Inside the first 400 ms a 'C' is console input and comes back as echo.
    s.send("C");
    QCOMPARE(s.readExactly(1, 300), QByteArray("C"));
    QCOMPARE(s.readFor(450), QByteArray());

    s.send("C");
    const QByteArray first = s.readExactly(1029, 3000);
    QVERIFY(isPacket(first, 1, content.left(1024)));
    QVERIFY(s.waitForLine("CXM: Start Tx"));

    // A second 'C' is logged and changes nothing.
    s.send("C");
    QVERIFY(s.waitForLineContaining("CXM:Unknown C"));
    QCOMPARE(s.readFor(50), QByteArray());

    s.send(QByteArray(1, NAK));
    QVERIFY(s.readExactly(1029, 3000) == first);
    QVERIFY(s.waitForLineContaining("NAK,Retry"));

    s.send(QByteArray(1, ACK));
    QVERIFY(isPacket(s.readExactly(1029, 3000), 2, content.mid(1024)));
    s.send(QByteArray(1, ACK));
    QVERIFY(isPacket(s.readExactly(1029, 3000), 3, QByteArray(1024, '\x1a')));
    s.send(QByteArray(1, ACK));
    QCOMPARE(s.readExactly(1, 3000), QByteArray(1, EOT));
    QVERIFY(s.waitForLine("CXM: End Tx"));

    // Back in command mode.
    QCOMPARE(s.command("#MODE<3>#"), QByteArray("#MODE<3>#<MODE_ACK>\n\r"));
}

void tst_download_e2e::lrzszReceives_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("2048") << 2048;
    QTest::newRow("300 KiB, blocks wrap") << 300 * 1024 + 517;
}

void tst_download_e2e::lrzszReceives()
{
    QFETCH(int, size);
    if (!QFileInfo("/usr/bin/rx").isExecutable())
        QSKIP("lrzsz's rx is not installed");

    PanelSession s;
    s.sysroot.populate();
    const QByteArray content = pattern(size);
    s.sysroot.writeAppFile("out.bin", content);
    QVERIFY(s.start());

    QCOMPARE(s.command("#GETF<out.bin>#"), "#GETF<out.bin>#<GETF:" + QByteArray::number(size) + ">\n\r");
    // rx asks at once; the panel listens only after 400 ms.
    QCOMPARE(s.readFor(450), QByteArray());

    QTemporaryDir host;
    const QString problem = relayToRx(s, host.path(), "got.bin", 120000);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(s.waitForLine("CXM: End Tx", 5000));

    QFile got(host.path() + "/got.bin");
    QVERIFY(got.open(QIODevice::ReadOnly));
    const QByteArray data = got.readAll();
    const int packets = size / 1024 + 1;
    QCOMPARE(data.size(), packets * 1024);
    QVERIFY(data.startsWith(content));
    QCOMPARE(data.mid(size), QByteArray(packets * 1024 - size, '\x1a'));

    // rx's answer to the EOT reaches the console as input; commands still work.
    const QByteArray answer = s.command("#MODE<0>#");
    QVERIFY2(answer.endsWith("#MODE<0>#<MODE_ACK>\n\r"), answer.toHex().constData());
}

QTEST_GUILESS_MAIN(tst_download_e2e)
#include "tst_download_e2e.moc"
