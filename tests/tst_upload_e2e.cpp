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

static void writeTo(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
}

class tst_upload_e2e : public QObject
{
    Q_OBJECT

private slots:
    void fontUpload_data();
    void fontUpload();
    void lrzszUpload();
    void upgradeToReboot();
};

void tst_upload_e2e::fontUpload_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("existing"); // in fonts/; none: no fonts directory at all
    QTest::addColumn<QString>("landsAt");
    QTest::addColumn<QString>("log");

    QStringList allTaken { "Sans.ttf" };
    for (int zeros = 1; zeros <= 8; ++zeros)
        allTaken << "Sans" + QString(zeros, '0') + ".ttf";

    QTest::newRow("font, any case") << "Sans.TTF" << QStringList { "Mono.ttf" } << "fonts/Sans.TTF"
                                    << "Move Font File Sans.TTF OK";
    QTest::newRow("name taken") << "Sans.ttf" << QStringList { "Sans.ttf" } << "fonts/Sans0.ttf"
                                << "Move Font File Sans.ttf OK";
    QTest::newRow("0 name taken too") << "Sans.otf" << QStringList { "Sans.otf", "Sans0.otf" } << "fonts/Sans00.otf"
                                      << "Move Font File Sans.otf OK";
    QTest::newRow("every name taken") << "Sans.ttf" << allTaken << "tmp/Sans.ttf"
                                      << "CXM: No free font name for Sans.ttf";
    QTest::newRow("no fonts directory") << "Sans.ttf" << QStringList() << "tmp/Sans.ttf" << "CXM: ACK EOT";
    QTest::newRow("configuration, not a font") << "config.kvxc" << QStringList { "x.ttf" } << "tmp/config.kvxc"
                                               << "CXM: All File Rx";
}

void tst_upload_e2e::fontUpload()
{
    QFETCH(QString, name);
    QFETCH(QStringList, existing);
    QFETCH(QString, landsAt);
    QFETCH(QString, log);

    PanelSession s;
    s.sysroot.populate();
    s.sysroot.makeAppDir("tmp");
    if (!existing.isEmpty())
        s.sysroot.makeAppDir("fonts");
    for (const QString &font : existing)
        s.sysroot.writeAppFile("fonts/" + font, "old " + font.toLatin1());
    QVERIFY(s.start());

    const QByteArray data = pattern(1500);
    QVERIFY(s.command("#LOAD<" + name.toLatin1() + ">1500#").endsWith("\n\r"));
    XmodemSender host(s.link.masterFd(), false);
    QCOMPARE(host.send(data), XmodemSender::Done);

    QVERIFY2(s.waitForLine(log), qPrintable(s.allLines().join('\n')));
    QCOMPARE(s.sysroot.readAppFile(landsAt), data);
    if (landsAt.startsWith("fonts/"))
        QVERIFY(!s.sysroot.appExists("tmp/" + name));
    for (const QString &font : existing)
        QCOMPARE(s.sysroot.readAppFile("fonts/" + font), "old " + font.toLatin1());
    // Ready for the next command.
    QVERIFY(s.command("#MODE<3>#").contains("<MODE_ACK>"));
}

void tst_upload_e2e::lrzszUpload()
{
    PanelSession s;
    s.sysroot.populate();
    s.sysroot.makeAppDir("tmp");
    QVERIFY(s.start());

    // sx sends short tails in 128-byte packets, which this receiver refuses:
    // it gets a padded copy, and the frame announces the true size.
    const QByteArray data = pattern(200 * 1024 + 333);
    QByteArray padded = data;
    padded.append(QByteArray(1024 - data.size() % 1024, char(0x1A)));
    QTemporaryDir dir;
    writeTo(dir.filePath("padded.bin"), padded);

    // sx, unlike rx, keeps what arrives while it writes, so a short
    // turnaround suffices and 200 packets take a few seconds.
    LrzszSender sx(s.link.masterFd(), false, 10);
    QVERIFY(sx.start(dir.filePath("padded.bin")));
    QVERIFY(s.command("#LOAD<big.bin>" + QByteArray::number(data.size()) + "#").endsWith("\n\r"));
    QVERIFY2(sx.relay(60000), qPrintable(sx.errorText()));
    QVERIFY(s.waitForLine("CXM: ACK EOT"));
    QCOMPARE(s.sysroot.readAppFile("tmp/big.bin"), data);
}

void tst_upload_e2e::upgradeToReboot()
{
    PanelSession s;
    s.sysroot.populate();
    // Old firmware files go, a directory of that name and the package stay.
    s.sysroot.writeAppFile("firmware.v1", "old");
    s.sysroot.writeAppFile("firmware.v1.5", "old");
    s.sysroot.makeAppDir("firmware.vdir");

    QTemporaryDir source;
    writeTo(source.filePath("pre_install"), "#!/bin/sh\necho pre > pre.done\n");
    writeTo(source.filePath("post_install"), "#!/bin/sh\n[ -f pre.done ] && echo post > post.done\n");
    for (const char *script : { "pre_install", "post_install" })
        QFile::setPermissions(source.filePath(script), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    writeTo(source.filePath("firmware.v2"), "new");
    const QString package = source.filePath("firmware.v2.tgz");
    QCOMPARE(QProcess::execute("tar", { "-czf", package, "-C", source.path(), "pre_install", "post_install",
                                        "firmware.v2" }),
             0);
    QFile f(package);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();

    // The panel finds programs in the sysroot first: its own reboot is a fake.
    QVERIFY(QStandardPaths::findExecutable("reboot", { s.sysroot.path("sbin") }).startsWith(s.sysroot.root()));
    QVERIFY(s.start());
    QVERIFY(s.command("#RTLD<firmware.v2.tgz>[" + digest + "]" + QByteArray::number(bytes.size()) + "#")
                .endsWith("\n\r"));
    XmodemSender host(s.link.masterFd(), false);
    QCOMPARE(host.send(bytes), XmodemSender::Done);
    QCOMPARE(host.readExactly(10, 2000), QByteArray("<RTLD:NOR>"));

    QVERIFY(s.waitForLine("CXM: Upgrade Start"));
    QVERIFY(s.waitForLine("CXM: removed firmware.v1"));
    QVERIFY(s.waitForLine("CXM: removed firmware.v1.5"));
    QVERIFY2(s.waitForLine("CXM: Reboot-End", 20000), qPrintable(s.allLines().join('\n')));
    QCOMPARE(s.sysroot.rebootCount(), 1);
    QVERIFY(!s.sysroot.appExists("firmware.v1") && !s.sysroot.appExists("firmware.v1.5"));
    QVERIFY(s.sysroot.appExists("firmware.vdir"));
    QCOMPARE(s.sysroot.readAppFile("firmware.v2.tgz"), bytes);
    QCOMPARE(s.sysroot.readAppFile("firmware.v2"), QByteArray("new"));
    QVERIFY(s.sysroot.appExists("post.done"));
}

QTEST_GUILESS_MAIN(tst_upload_e2e)
#include "tst_upload_e2e.moc"
