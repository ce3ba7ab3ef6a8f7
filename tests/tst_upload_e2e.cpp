// End to end: uploads through LOAD and RTLD frames to the simulation
// executable, with the test's own sender and with lrzsz's sx.

#include "xmodemsender.h"

#include <QCryptographicHash>
#include <QtTest>

static QByteArray pattern(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
    return data;
}

static bool startPanel(PanelSession &s)
{
    s.sysroot.populate();
    s.sysroot.makeAppDir("tmp");
    return s.start();
}

class tst_upload_e2e : public QObject
{
    Q_OBJECT

private slots:
    void fontUpload_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("existing"); // in fonts/; none: no fonts directory at all
        QTest::addColumn<QString>("landsAt");
        QTest::addColumn<QString>("log");
        const QStringList allTaken { "Sans.ttf", "Sans0.ttf", "Sans00.ttf", "Sans000.ttf", "Sans0000.ttf", "Sans00000.ttf", "Sans000000.ttf", "Sans0000000.ttf", "Sans00000000.ttf" };
        QTest::newRow("name taken, any case") << "Sans.TTF" << QStringList { "Sans.TTF" } << "fonts/Sans0.TTF" << "Move Font File Sans.TTF OK";
        QTest::newRow("0 name taken too") << "Sans.otf" << QStringList { "Sans.otf", "Sans0.otf" } << "fonts/Sans00.otf" << "Move Font File Sans.otf OK";
        QTest::newRow("every name taken") << "Sans.ttf" << allTaken << "tmp/Sans.ttf" << "CXM: No free font name for Sans.ttf";
        QTest::newRow("no fonts directory") << "Sans.ttf" << QStringList() << "tmp/Sans.ttf" << "CXM: ACK EOT";
        QTest::newRow("configuration, not a font") << "config.kvxc" << QStringList { "x.ttf" } << "tmp/config.kvxc" << "CXM: All File Rx";
    }
    void fontUpload()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, existing);
        QFETCH(QString, landsAt);
        QFETCH(QString, log);
        PanelSession s;
        QVERIFY(startPanel(s));
        for (const QString &font : existing)
            s.sysroot.writeAppFile("fonts/" + font, "old " + font.toLatin1());

        const QByteArray data = pattern(1500);
        QVERIFY(s.command("#LOAD<" + name.toLatin1() + ">1500#").endsWith("\n\r"));
        QCOMPARE(XmodemSender(s.link.masterFd(), false).send(data), XmodemSender::Done);
        QVERIFY2(s.waitForLine(log), qPrintable(s.allLines().join('\n')));
        QCOMPARE(s.sysroot.readAppFile(landsAt), data);
        QCOMPARE(s.sysroot.appExists("tmp/" + name), !landsAt.startsWith("fonts/"));
        for (const QString &font : existing)
            QCOMPARE(s.sysroot.readAppFile("fonts/" + font), "old " + font.toLatin1());
        QVERIFY(s.command("#MODE<3>#").contains("<MODE_ACK>")); // ready for the next command
    }

    void lrzszUpload()
    {
        PanelSession s;
        QVERIFY(startPanel(s));
        // sx sends a short tail in 128-byte packets, which this receiver refuses: it gets a copy padded to
        // 1024 bytes and the frame announces the true size. sx keeps what arrives while it writes: a short turnaround.
        const QByteArray data = pattern(200 * 1024 + 333);
        s.sysroot.writeFile("padded.bin", data + QByteArray(1024 - data.size() % 1024, char(0x1A)));
        LrzszSender sx(s.link.masterFd(), false, 10);
        QVERIFY(sx.start(s.sysroot.path("padded.bin")));
        QVERIFY(s.command("#LOAD<big.bin>" + QByteArray::number(data.size()) + "#").endsWith("\n\r"));
        QVERIFY2(sx.relay(60000), qPrintable(sx.errorText()));
        QVERIFY(s.waitForLine("CXM: ACK EOT"));
        QCOMPARE(s.sysroot.readAppFile("tmp/big.bin"), data);
    }

    void upgradeToReboot()
    {
        PanelSession s;
        QVERIFY(startPanel(s));
        // Old firmware files go; a directory of that name and the package stay.
        s.sysroot.writeAppFile("firmware.v1", "old");
        s.sysroot.writeAppFile("firmware.v1.5", "old");
        s.sysroot.makeAppDir("firmware.vdir");
        s.sysroot.writeFile("src/pre_install", "#!/bin/sh\necho pre > pre.done\n");
        s.sysroot.writeFile("src/post_install", "#!/bin/sh\n[ -f pre.done ] && echo post > post.done\n");
        QCOMPARE(QProcess::execute("chmod", { "+x", s.sysroot.path("src/pre_install"), s.sysroot.path("src/post_install") }), 0);
        QCOMPARE(QProcess::execute("tar", { "-czf", s.sysroot.path("firmware.v2.tgz"), "-C", s.sysroot.path("src"), "pre_install", "post_install" }), 0);
        const QByteArray bytes = s.sysroot.readFile("firmware.v2.tgz"), digest = QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
        // The panel finds programs in the sysroot first: its own reboot is a fake.
        QVERIFY(QStandardPaths::findExecutable("reboot", { s.sysroot.path("sbin") }).startsWith(s.sysroot.root()));
        QVERIFY(s.command("#RTLD<firmware.v2.tgz>[" + digest + "]" + QByteArray::number(bytes.size()) + "#").endsWith("\n\r"));
        XmodemSender host(s.link.masterFd(), false);
        QCOMPARE(host.send(bytes), XmodemSender::Done);
        QCOMPARE(host.readExactly(10, 2000), QByteArray("<RTLD:NOR>"));
        QVERIFY(s.waitForLine("CXM: Upgrade Start"));
        QVERIFY2(s.waitForLine("CXM: Reboot-End", 20000), qPrintable(s.allLines().join('\n')));
        QCOMPARE(s.sysroot.rebootCount(), 1);
        QVERIFY(!s.sysroot.appExists("firmware.v1") && !s.sysroot.appExists("firmware.v1.5") && s.sysroot.appExists("firmware.vdir"));
        QCOMPARE(s.sysroot.readAppFile("firmware.v2.tgz"), bytes);
        QVERIFY(s.sysroot.appExists("post.done")); // unpacked whole, pre_install ran before post_install
    }
};

QTEST_GUILESS_MAIN(tst_upload_e2e)
#include "tst_upload_e2e.moc"
