// In process: the installer's steps 2 to 5 on real gzip tar packages whose
// scripts leave marker files. The upgrade timer is fired by the test as soon
// as a step has armed it, after checking the state and delay it was given.

#include "hdw_config.h"
#include "usb_console.h"
#include "xmodemsender.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>
#include <csignal>

class ConsoleProbe
{
public:
    static void setPackage(USB_console &c, const char *name) { qstrncpy(c.fileName, name, sizeof c.fileName); }
    static bool armed(const USB_console &c) { return c.upgradeTimer->isActive(); }
    static QString next(const USB_console &c)
    {
        return QString("%1/%2").arg(c.upgradeState).arg(c.upgradeTimer->interval());
    }
    static int state(const USB_console &c) { return c.upgradeState; }
    static void fire(USB_console &c) { c.upgradeAction(); }
};

class tst_installer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void steps_data();
    void steps();
    void otherStatesDoNothing_data();
    void otherStatesDoNothing();

private:
    TestSysroot sysroot;
    QString realTar;
    HDW_config *hw = nullptr;
    USB_console *console = nullptr;
};

void tst_installer::initTestCase()
{
    sysroot.populate();
    sysroot.activate();
    realTar = QStandardPaths::findExecutable("tar");
    QVERIFY(!realTar.isEmpty());
    hw = new HDW_config;
    console = new USB_console(nullptr, hw);
}

void tst_installer::cleanupTestCase()
{
    QDir::setCurrent(sysroot.appDir());
    delete console->messageLabel;
    delete console->statusLabel;
    delete console->progressBar;
    delete console;
    delete hw;
}

static const QByteArray okPre = "#!/bin/sh\necho pre > pre.done\n";
static const QByteArray okPost = "#!/bin/sh\necho post > post.done\n";
static const QByteArray slowPre = "#!/bin/sh\necho $$ > script.pid\nexec sleep 30\n";
static const QByteArray slowPost = "#!/bin/sh\necho post > post.done\necho $$ > script.pid\nexec sleep 30\n";
static const char done[] = "Upgrade finished, wait for reboot...";
static const char jumper[] = "Please make sure jumper removed";
static const char error[] = "Installation Error!";

void tst_installer::steps_data()
{
    QTest::addColumn<QByteArray>("pre");
    QTest::addColumn<QByteArray>("post");
    QTest::addColumn<bool>("unpackStalls");
    QTest::addColumn<int>("finishLimit");
    QTest::addColumn<QStringList>("trail");
    QTest::addColumn<QStringList>("logs");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("files");

    const QStringList fullTrail { "3/1000", "4/1000", "5/3000" };
    QTest::newRow("good package")
        << okPre << okPost << false << 30000 << fullTrail
        << QStringList { "CXM: Un-tar pre_install-End", "CXM: pre install-End", "CXM: Un-tar all-End",
                         "CXM: Post install-End", "CXM: Reboot-End" }
        << done << jumper << QStringList { "pre.done", "post.done", "firmware.v2" };
    QTest::newRow("post_install exits 1")
        << okPre << okPost + "exit 1\n" << false << 30000 << fullTrail
        << QStringList { "CXM: Un-tar pre_install-End", "CXM: pre install-End", "CXM: Un-tar all-End",
                         "CXM: Post install-End", "CXM: Reboot-End" }
        << done << jumper << QStringList { "post.done" };
    QTest::newRow("no pre_install")
        << QByteArray() << okPost << false << 30000 << QStringList { "5/3000" }
        << QStringList { "CXM: Un-tar pre_install-End", "CXM: Pre install not start-Fail", "CXM: Reboot-End" }
        << error << "before" << QStringList();
    QTest::newRow("pre_install overruns")
        << slowPre << okPost << false << 700 << QStringList { "5/3000" }
        << QStringList { "CXM: Un-tar pre_install-End", "CXM: pre install-Fail", "CXM: Reboot-End" }
        << error << "before" << QStringList();
    QTest::newRow("unpack overruns")
        << okPre << okPost << true << 700 << QStringList { "3/1000", "5/1000" }
        << QStringList { "CXM: Un-tar pre_install-End", "CXM: pre install-End", "CXM: Un-tar all-Fail",
                         "CXM: Reboot-End" }
        << "Please wait for installation..." << error << QStringList { "pre.done" };
    QTest::newRow("post_install overruns")
        << okPre << slowPost << false << 700 << fullTrail
        << QStringList { "CXM: Un-tar pre_install-End", "CXM: pre install-End", "CXM: Un-tar all-End",
                         "CXM: Post install-Fail", "CXM: Reboot-End" }
        << error << jumper << QStringList { "pre.done", "post.done" };
}

void tst_installer::steps()
{
    QFETCH(QByteArray, pre);
    QFETCH(QByteArray, post);
    QFETCH(bool, unpackStalls);
    QFETCH(int, finishLimit);
    QFETCH(QStringList, trail);
    QFETCH(QStringList, logs);
    QFETCH(QString, status);
    QFETCH(QString, message);
    QFETCH(QStringList, files);

    // Each package is unpacked in a working directory of its own.
    QTemporaryDir work(sysroot.appPath("work-XXXXXX"));
    QTemporaryDir source;
    QVERIFY(work.isValid() && source.isValid());
    QStringList members { "post_install", "firmware.v2" };
    const auto put = [&](const QString &name, const QByteArray &text) {
        QFile f(source.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    };
    if (!pre.isEmpty()) {
        put("pre_install", pre);
        members.prepend("pre_install");
    }
    put("post_install", post);
    put("firmware.v2", "new firmware\n");
    QCOMPARE(QProcess::execute(realTar, QStringList { "-czf", work.filePath("pkg.tgz"), "-C", source.path() } + members), 0);
    QVERIFY(QDir::setCurrent(work.path()));

    // A tar that hangs when asked to unpack everything.
    if (unpackStalls) {
        sysroot.writeFile("bin/tar", "#!/bin/sh\n[ $# -eq 2 ] && exec sleep 30\nexec " + realTar.toLocal8Bit() + " \"$@\"\n");
        QFile::setPermissions(sysroot.path("bin/tar"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    const auto restore = qScopeGuard([&] {
        QFile::remove(sysroot.path("bin/tar"));
        console->processFinishTimeout = 30000;
        QDir::setCurrent(sysroot.appDir());
    });

    console->processFinishTimeout = finishLimit;
    ConsoleProbe::setPackage(*console, "pkg.tgz");
    console->statusLabel->setText("Upgrade package verification successful.");
    console->messageLabel->setText("before");
    const int reboots = sysroot.rebootCount();

    StdoutCapture out;
    console->onUpgradeStatusChange(2);
    QStringList taken;
    QString statusBefore, messageBefore;
    while (ConsoleProbe::armed(*console)) {
        taken << ConsoleProbe::next(*console);
        if (ConsoleProbe::state(*console) == 5) {
            statusBefore = console->statusLabel->text();
            messageBefore = console->messageLabel->text();
            QVERIFY(QStandardPaths::findExecutable("reboot").startsWith(sysroot.root() + '/'));
        }
        QVERIFY(taken.size() <= 4);
        ConsoleProbe::fire(*console);
    }

    QCOMPARE(taken, trail);
    QCOMPARE(out.lines().filter(QRegularExpression("^CXM: ")), logs);
    QCOMPARE(statusBefore, status);
    QCOMPARE(messageBefore, message);
    QCOMPARE(console->statusLabel->text(), QStringLiteral("Reboot now..."));
    QCOMPARE(sysroot.rebootCount(), reboots + 1);
    for (const QString &file : files)
        QVERIFY2(QFile::exists(work.filePath(file)), qPrintable(file));
    // A script that overran was ended with its step.
    QFile pidFile(work.filePath("script.pid"));
    if (pidFile.open(QIODevice::ReadOnly)) {
        const pid_t pid = pidFile.readAll().trimmed().toInt();
        QVERIFY(pid > 0);
        QVERIFY(kill(pid, 0) != 0);
    }
}

void tst_installer::otherStatesDoNothing_data()
{
    QTest::addColumn<int>("state");
    QTest::newRow("0") << 0;
    QTest::newRow("6") << 6;
    QTest::newRow("-1") << -1;
}

void tst_installer::otherStatesDoNothing()
{
    QFETCH(int, state);
    const int reboots = sysroot.rebootCount();
    const int before = ConsoleProbe::state(*console);
    console->statusLabel->setText("status");
    console->messageLabel->setText("message");
    emit console->UpgradeStatusChange(state);
    QVERIFY(!ConsoleProbe::armed(*console));
    QCOMPARE(ConsoleProbe::state(*console), before);
    QCOMPARE(console->statusLabel->text(), QStringLiteral("status"));
    QCOMPARE(console->messageLabel->text(), QStringLiteral("message"));
    QCOMPARE(sysroot.rebootCount(), reboots);
}

QTEST_MAIN(tst_installer)
#include "tst_installer.moc"
