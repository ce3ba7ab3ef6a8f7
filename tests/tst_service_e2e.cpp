// End to end, kvx-host's service kit on two simulated panels: a package
// built by the tool, checked and installed up to the panel's reboot; and a
// panel cloned by backup and restore onto one with another serial number.

#include "craftedpackage.h"
#include "panelsession.h"

#include <QtTest>
#include <poll.h>
#include <utility>

namespace {

struct HostRun { int exitCode = -1; QString out; };

// Runs kvx-host on a terminal of its own, relayed to the panel's as a cable would.
HostRun runHost(PanelSession &panel, const QStringList &args, int ms = 60000)
{
    PtyLink host;
    if (!host.open())
        return {};
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(KVX_HOST_EXECUTABLE, QStringList{ "-p", host.slaveName() } + args);
    for (QDeadlineTimer deadline(ms); p.state() != QProcess::NotRunning && !p.waitForFinished(0) && !deadline.hasExpired();) {
        struct pollfd fds[2] = { { panel.link.masterFd(), POLLIN, 0 }, { host.masterFd(), POLLIN, 0 } };
        poll(fds, 2, 10);
        panel.link.fill(0);
        host.fill(0);
        host.write(std::exchange(panel.link.buffer(), QByteArray()));
        panel.link.write(std::exchange(host.buffer(), QByteArray()));
        panel.allLines();
    }
    p.kill();
    p.waitForFinished(5000);
    return { p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAll()) };
}

} // namespace

class tst_service_e2e : public QObject
{
    Q_OBJECT
    PanelSession a, b;
    QTemporaryDir work;

private slots:
    void initTestCase()
    {
        for (PanelSession *p : { &a, &b }) {
            p->sysroot.makeAppDir("tmp");
            p->sysroot.makeAppDir("fonts");
        }
        b.sysroot.writeFile("sys/fsl_otp/HW_OCOTP_GP2", "0x10000002\n"); // another serial number
        b.sysroot.activate(); // the installer's reboot is b's fake one
        QVERIFY(QStandardPaths::findExecutable("reboot").startsWith(b.sysroot.root() + '/'));
        a.sysroot.writeAppFile("fonts/Sample.ttf", QByteArray(3000, 'f'));
        a.sysroot.writeAppFile("qml/project/main.qml", "Item {}\n");
        QVERIFY(a.start() && b.start());
    }

    void packageInstalls()
    {
        const QString src = work.filePath("src"), pkg = work.filePath("fw.tar.gz");
        QVERIFY(QDir().mkpath(src + "/bin"));
        for (const char *script : { "pre_install", "post_install" }) {
            QFile f(src + '/' + script);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray("#!/bin/sh\ntouch ") + script + ".ran\n") > 0);
        }
        QFile::copy("/bin/true", src + "/bin/tool"); // a PC program, but not one the installer runs
        HostRun r = runHost(b, { "package", src, "-o", pkg });
        QVERIFY2(r.exitCode == 0 && r.out.contains(QRegularExpression("fw.tar.gz: \\d+ bytes, MD5 [0-9a-f]{32}\n")), qPrintable(r.out));
        QFile bad(work.filePath("bad.tar.gz")); // what the panel would only find out after the transfer
        const crafted::Entry x86{ "post_install", '0', 0755, crafted::elf(2, 62), {} }, escape{ "lib/../../x", '0', 0644, "x", {} };
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(crafted::gzip(crafted::tarOf({ crafted::pre, x86, escape }))) > 0);
        bad.close();
        r = runHost(b, { "check", bad.fileName() });
        QVERIFY2(r.exitCode == 1 && r.out.contains("error: post_install: an x86-64 program")
                     && r.out.contains("error: lib/../../x: \"..\" in the path"), qPrintable(r.out));
        r = runHost(b, { "upgrade", bad.fileName() });
        QVERIFY2(r.exitCode == 1 && r.out.contains("bad.tar.gz not sent"), qPrintable(r.out));
        r = runHost(b, { "check", pkg });
        QVERIFY2(r.exitCode == 0 && r.out.contains("0 error(s), 0 warning(s)"), qPrintable(r.out));
        r = runHost(b, { "upgrade", pkg });
        QVERIFY2(r.exitCode == 0 && r.out.contains("<RTLD:NOR>"), qPrintable(r.out));
        QTRY_COMPARE_WITH_TIMEOUT(b.sysroot.rebootCount(), 1, 60000);
        QVERIFY(b.sysroot.appExists("pre_install.ran") && b.sysroot.appExists("post_install.ran") && b.sysroot.appExists("bin/tool"));
    }

    void cloneByBackupAndRestore()
    {
        for (const QByteArray frame : { "#SNAM<Line 3>#", "#BKLT<80>#", "#DIGC<3><OUT><HI>#", "#DIGC<4><IN>#", "#PWMC<1><200>#",
                                        "#ALMC<2><HI>#", "#DORI<1>#", "#DRPN<1>#", "#CHBT<0>#", "#DTIM<2024-02-29 13:05:07:250 60>#", "#SVCF#" })
            QVERIFY(!a.command(frame).isEmpty());
        HostRun r = runHost(a, { "backup", work.filePath("kit") });
        const QString fromA = work.filePath("kit/0214000510000001"), fromB = work.filePath("kit/0214000510000002");
        QVERIFY2(r.exitCode == 0 && r.out.contains("fonts: 1 file(s)") && r.out.contains("project files: 1"), qPrintable(r.out));
        QVERIFY(QFile::exists(fromA + "/project/main.qml") && QFile::exists(fromA + "/hwcf.txt"));
        QFile conf(fromA + "/sys_conf.txt");
        QVERIFY(conf.open(QIODevice::ReadWrite));
        const QByteArray saved = conf.readAll();
        conf.write("DIO<3>H\n"); // damaged: what the panel would echo and ignore
        conf.close();
        r = runHost(b, { "restore", fromA });
        QVERIFY2(r.exitCode == 0 && r.out.contains("not restored: sys_conf.txt line 27 skipped: \"DIO<3>H\"")
                     && r.out.contains("not restored: 1 project file(s)"), qPrintable(r.out));
        QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write(saved) == saved.size());
        conf.close();
        r = runHost(b, { "backup", work.filePath("kit") });
        QVERIFY2(r.exitCode == 0, qPrintable(r.out));
        for (const char *name : { "sys_conf.txt", "device_name.txt", "lowBatteryConf.txt", "timezone.cfg", "fonts/Sample.ttf" }) {
            QFile x(fromA + '/' + name), y(fromB + '/' + name);
            QVERIFY2(x.open(QIODevice::ReadOnly) && y.open(QIODevice::ReadOnly), name);
            QCOMPARE(y.readAll(), x.readAll());
        }
    }
};

QTEST_GUILESS_MAIN(tst_service_e2e)
#include "tst_service_e2e.moc"
