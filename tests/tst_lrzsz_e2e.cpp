// End to end: lrzsz's sx uploads to the simulated panel and its rx downloads
// from it, each through a relay with a real line's turnaround.

#include "panelsession.h"

#include <QtTest>

class tst_lrzsz_e2e : public QObject
{
    Q_OBJECT

private slots:
    void sxUploads()
    {
        PanelSession s;
        s.sysroot.makeAppDir("tmp");
        QVERIFY(s.start());
        // sx sends a short tail in 128-byte packets, which this receiver refuses: it gets a copy padded to
        // 1024 bytes and the frame announces the true size. sx keeps what arrives while it writes: a short turnaround.
        const QByteArray data = randomBytes(1, 200 * 1024 + 333);
        s.sysroot.writeFile("padded.bin", data + QByteArray(1024 - data.size() % 1024, char(0x1A)));
        QVERIFY(s.command("#LOAD<big.bin>" + QByteArray::number(data.size()) + "#").endsWith("\n\r"));
        const QString problem = runLrzsz(s.link, { "sx", "-k", s.sysroot.path("padded.bin") }, s.sysroot.root(), 10, 20000);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY(s.waitForLine("CXM: ACK EOT"));
        QCOMPARE(s.sysroot.readAppFile("tmp/big.bin"), data);
    }

    void rxDownloads_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("empty") << 0;
        QTest::newRow("300 KiB, blocks wrap") << 300 * 1024 + 517;
    }
    void rxDownloads()
    {
        QFETCH(int, size);
        PanelSession s;
        const QByteArray content = randomBytes(2, size);
        s.sysroot.writeAppFile("out.bin", content);
        QVERIFY(s.start());
        QCOMPARE(s.command("#GETF<out.bin>#"), "#GETF<out.bin>#<GETF:" + QByteArray::number(size) + ">\n\r");
        // Inside the first 400 ms a 'C' is console input and comes back as echo (rx would send it at once).
        QCOMPARE(s.link.readFor(200), QByteArray());
        s.send("C");
        QCOMPARE(s.link.readUntil("C", 300), QByteArray("C"));
        QCOMPARE(s.link.readFor(450), QByteArray());
        QTemporaryDir host;
        const QString problem = runLrzsz(s.link, { "rx", "-c", "got.bin" }, host.path(), 50, 30000);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QFile got(host.path() + "/got.bin");
        QVERIFY(got.open(QIODevice::ReadOnly));
        // The original bytes, then padding up to a whole packet, a whole one if none is left.
        QCOMPARE(got.readAll(), content + QByteArray(1024 - size % 1024, '\x1a'));
        // rx's answer to the EOT reaches the console as input; commands work again.
        QVERIFY(s.command("#MODE<3>#").endsWith("#MODE<3>#<MODE_ACK>\n\r"));
    }
};

QTEST_GUILESS_MAIN(tst_lrzsz_e2e)
#include "tst_lrzsz_e2e.moc"
