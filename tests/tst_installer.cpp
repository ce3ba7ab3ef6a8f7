// In process: the installer's steps 2 to 5 on real packages whose scripts leave marker files. The
// test fires the upgrade timer as soon as a step arms it, noting the state and delay given.

#include "console_probe.h"
#include "stdoutcapture.h"
#include "testsysroot.h"

#include <QtTest>
#include <csignal>

class tst_installer : public QObject
{
    Q_OBJECT
    TestSysroot sysroot;
    QString realTar;
    std::unique_ptr<PanelConsole> panel;
    USB_console *console = nullptr;

private slots:
    void initTestCase()
    {
        sysroot.activate();
        QVERIFY(QStandardPaths::findExecutable("reboot").startsWith(sysroot.root() + '/'));
        QVERIFY(!(realTar = QStandardPaths::findExecutable("tar")).isEmpty());
        console = &(panel = std::make_unique<PanelConsole>())->console;
    }

    void steps_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("trail"); // state/delay of each step armed after step 2
        QTest::addColumn<QString>("logs");  // after "CXM: "
        QTest::addColumn<QString>("status"); // status and message before the reboot step
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("files"); // left in the working directory
        const QString all = "Un-tar pre_install-End|pre install-End|Un-tar all-End|Post install-End|Reboot-End";
        const QString done = "Upgrade finished, wait for reboot...", jumper = "Please make sure jumper removed",
                      error = "Installation Error!";
        QTest::newRow("good package") << "" << "3/1000 4/1000 5/3000" << all << done << jumper << "pre.done post.done firmware.v2";
        QTest::newRow("post_install exits 1") << "post exits 1" << "3/1000 4/1000 5/3000" << all << done << jumper << "post.done";
        QTest::newRow("no pre_install") << "no pre" << "5/3000" << "Un-tar pre_install-End|Pre install not start-Fail|Reboot-End" << error << "before" << "";
        QTest::newRow("pre_install overruns") << "pre overruns" << "5/3000" << "Un-tar pre_install-End|pre install-Fail|Reboot-End" << error << "before" << "";
        QTest::newRow("unpack overruns") << "unpack overruns" << "3/1000 5/1000" << "Un-tar pre_install-End|pre install-End|Un-tar all-Fail|Reboot-End" << "Please wait for installation..." << error << "pre.done";
        QTest::newRow("post_install overruns") << "post overruns" << "3/1000 4/1000 5/3000" << "Un-tar pre_install-End|pre install-End|Un-tar all-End|Post install-Fail|Reboot-End" << error << jumper << "pre.done post.done";
    }
    void steps()
    {
        QFETCH(QString, fault);
        QFETCH(QString, files);

        // Each package is unpacked in a working directory of its own.
        QTemporaryDir work(sysroot.appPath("work-XXXXXX")), source;
        const QByteArray sh = "#!/bin/sh\n", slow = "echo $$ > script.pid\nexec sleep 30\n";
        const auto put = [&](const QString &name, const QByteArray &text) {
            QFile f(source.filePath(name));
            return f.open(QIODevice::WriteOnly) && f.write(text) == text.size()
                && f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        };
        QStringList members { "post_install", "firmware.v2" };
        if (fault != "no pre")
            members << "pre_install";
        QVERIFY(fault == "no pre" || put("pre_install", sh + (fault == "pre overruns" ? slow : "echo pre > pre.done\n")));
        QVERIFY(put("post_install", sh + "echo post > post.done\n" + (fault == "post overruns" ? slow : fault == "post exits 1" ? QByteArray("exit 1\n") : QByteArray())));
        QVERIFY(put("firmware.v2", "new firmware\n"));
        QCOMPARE(QProcess::execute(realTar, QStringList { "-czf", work.filePath("pkg.tgz"), "-C", source.path() } + members), 0);
        QVERIFY(QDir::setCurrent(work.path()));
        if (fault == "unpack overruns") { // a tar that hangs when asked to unpack everything
            sysroot.writeFile("bin/tar", "#!/bin/sh\n[ $# -eq 2 ] && exec sleep 30\nexec " + realTar.toLocal8Bit() + " \"$@\"\n");
            QFile::setPermissions(sysroot.path("bin/tar"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        }
        const auto restore = qScopeGuard([&] { QFile::remove(sysroot.path("bin/tar")); QDir::setCurrent(sysroot.appDir()); });
        console->processFinishTimeout = fault.endsWith("overruns") ? 700 : 30000;
        ConsoleProbe::installPackage(*console) = "pkg.tgz";
        console->statusLabel->setText("Upgrade package verification successful.");
        console->messageLabel->setText("before");
        const int reboots = sysroot.rebootCount();

        StdoutCapture out;
        console->onUpgradeStatusChange(UpgradePreInstall);
        QStringList taken, before; // the window before the reboot step
        const QTimer *timer = ConsoleProbe::upgradeTimer(*console);
        while (timer->isActive() && taken.size() < 5) {
            taken << QString("%1/%2").arg(ConsoleProbe::upgradeState(*console)).arg(timer->interval());
            if (ConsoleProbe::upgradeState(*console) == UpgradeReboot)
                before = QStringList { console->statusLabel->text(), console->messageLabel->text() };
            // A LOAD or RTLD frame between the steps names another file; unpacked, it would leave no post_install.
            qstrncpy(ConsoleProbe::fileName(*console), "other.tgz", 52);
            ConsoleProbe::upgradeStep(*console);
        }
        QTEST(taken.join(' '), "trail");
        QTEST(out.lines().filter(QRegularExpression("^CXM: ")).join('|').remove("CXM: "), "logs");
        QTEST(before.value(0), "status");
        QTEST(before.value(1), "message");
        QCOMPARE(console->statusLabel->text(), QStringLiteral("Reboot now..."));
        QCOMPARE(sysroot.rebootCount(), reboots + 1);
        const QString dir = QFileInfo(work.path()).fileName() + '/';
        for (const QString &file : files.split(' ', Qt::SkipEmptyParts))
            QVERIFY2(sysroot.appExists(dir + file), qPrintable(file));
        // A script that overran was ended with its step.
        const int pid = sysroot.readAppFile(dir + "script.pid").trimmed().toInt();
        QVERIFY(pid <= 0 || kill(pid, 0) != 0);
    }
};

QTEST_MAIN(tst_installer)
#include "tst_installer.moc"
