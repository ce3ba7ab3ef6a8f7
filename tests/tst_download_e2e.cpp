// End to end: the host downloads files from the simulated panel with GETF,
// lrzsz's rx being the real receiver.

#include "panelsession.h"

#include <QtTest>
#include <poll.h>
#include <unistd.h>

// Runs rx -c on a pseudo-terminal of its own and relays between it and the panel's
// link. The panel's bytes wait until rx has been quiet for 50 ms, as on a real
// line's turnaround: rx drops its pending input right after each ACK it writes.
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
    void lrzszReceives_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("empty") << 0;
        QTest::newRow("2048") << 2048;
        QTest::newRow("300 KiB, blocks wrap") << 300 * 1024 + 517;
    }
    void lrzszReceives()
    {
        QFETCH(int, size);
        if (!QFileInfo("/usr/bin/rx").isExecutable())
            QSKIP("lrzsz's rx is not installed");
        PanelSession s;
        s.sysroot.populate();
        QByteArray content;
        for (int i = 0; i < size; ++i)
            content += char(i * 131 + i / 977);
        s.sysroot.writeAppFile("out.bin", content);
        QVERIFY(s.start());

        QCOMPARE(s.command("#GETF<out.bin>#"), "#GETF<out.bin>#<GETF:" + QByteArray::number(size) + ">\n\r");
        // Inside the first 400 ms a 'C' is console input and comes back as echo.
        s.send("C");
        QCOMPARE(s.readExactly(1, 300), QByteArray("C"));
        QCOMPARE(s.readFor(450), QByteArray());

        QTemporaryDir host;
        const QString problem = relayToRx(s, host.path(), "got.bin", 120000);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QFile got(host.path() + "/got.bin");
        QVERIFY(got.open(QIODevice::ReadOnly));
        // The original bytes, then padding up to a whole packet, a whole one if none is left.
        QCOMPARE(got.readAll(), content + QByteArray(1024 - size % 1024, '\x1a'));

        // rx's answer to the EOT reaches the console as input; commands work again.
        const QByteArray answer = s.command("#MODE<3>#");
        QVERIFY2(answer.endsWith("#MODE<3>#<MODE_ACK>\n\r"), answer.toHex().constData());
    }
};

QTEST_GUILESS_MAIN(tst_download_e2e)
#include "tst_download_e2e.moc"
