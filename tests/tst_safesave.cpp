// Saves replace their files in one step: a failed save, or a process dying in one, leaves the old
// file as it was, and every save keeps the file's symbolic link and permissions.

#include "hdw_config.h"
#include "stdoutcapture.h"
#include "testsysroot.h"

#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Old content, the start of the new, a size limit that stops the new content only, and the result and line
// of a failed and of a good save (timezone.cfg is silent, and false only for the date: a day that does not exist).
struct Conf { QString file; QByteArray old, fresh; rlim_t limit; QString failed, failLine, saveLine; };
static const QVector<Conf> confs{
    { "device_name.txt", "NAM<Old name>\n", "NAM<New name>\n", 4, "-1", "HWI: Can't Write Dev Name.", "HWI: Conf. Saved" },
    { "sys_conf.txt", "BLK<080>\nDIO<00>H\nCOM<0>Y\n", "BLK<035>\nDIO<00>H\nDIO<01>U\n", 20, "-1", "HWI: Can't Write Conf.", "HWI: Conf. Saved" },
    { "lowBatteryConf.txt", "CKB<0>\n", "CKB<1>\n", 3, "", "HWI: Can't WR Low Bat. Conf. File", "HWI: Bat. Chk ON" },
    { "timezone.cfg", "-300", "60", 1, "false", "", "" },
};

class tst_safesave : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }

    void saves_data()
    {
        QTest::addColumn<int>("conf");
        QTest::addColumn<QString>("fault"); // refused: a full disk; killed: a crash while writing; directory: no rename
        for (const char *fault : { "none", "refused", "killed", "directory" })
            for (int i = 0; i < confs.size(); ++i)
                QTest::addRow("%s, %s", qPrintable(confs[i].file), fault) << i << QString(fault);
    }

    void saves()
    {
        QFETCH(int, conf);
        QFETCH(QString, fault);
        const Conf &c = confs[conf];
        // The file lives elsewhere with an unusual mode, its name a link to it; or a directory stands there.
        const QString stored = fault == "directory" ? c.file + "/kept" : "persist/" + c.file;
        const auto mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
        TestSysroot sys;
        for (const Conf &each : confs)
            sys.writeAppFile(each.file == c.file ? stored : each.file, each.old);
        QVERIFY(fault == "directory" || (QFile::link(stored, sys.appPath(c.file)) && QFile::setPermissions(sys.appPath(stored), mode)));
        sys.activate();
        hwcfg_data = hwcfg_struct();
        const auto cfg = std::make_unique<HDW_config>();
        qstrncpy(hwcfg_data.devName, "New name", sizeof hwcfg_data.devName);
        hwcfg_data.backlight = 35;
        QString text = QStringLiteral("2024-02-30 13:05:07:250 60"), got;
        const auto save = [&] {
            if (c.file == "lowBatteryConf.txt")
                cfg->confBatteryLowCheck(true);
            else
                got = c.file == "timezone.cfg" ? (cfg->setExternalRTC(true, true, &text) ? "true" : "false") : QString::number(cfg->saveHardwareConfig());
        };
        struct rlimit fileSize {};
        getrlimit(RLIMIT_FSIZE, &fileSize);
        const auto limitFileSize = [&](rlim_t bytes) { fileSize.rlim_cur = bytes; setrlimit(RLIMIT_FSIZE, &fileSize); };
        const auto entries = [&](const QString &dir) { return QDir(sys.appPath(dir)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System); };
        const QStringList before = entries(QString());

        if (fault == "killed") {
            const pid_t child = fork();
            if (child == 0) { // writing past the limit ends the process at once, as a crash would
                signal(SIGXFSZ, [](int) { _exit(3); });
                limitFileSize(c.limit);
                save();
                _exit(0);
            }
            int status = 0;
            QVERIFY(child > 0 && waitpid(child, &status, 0) == child);
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 3, qPrintable(QString::number(status)));
        } else { // a write past the limit fails with an error instead (and cuts the capture short)
            void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
            const QStringList out = printedLines([&] {
                limitFileSize(fault == "refused" ? c.limit : RLIM_INFINITY);
                save();
                limitFileSize(RLIM_INFINITY);
            });
            signal(SIGXFSZ, oldHandler);
            QVERIFY2(fault == "refused" || out.join('|') == (fault == "none" ? c.saveLine : c.failLine), qPrintable(out.join('|')));
            QVERIFY2(fault == "none" || got == c.failed, qPrintable(got));
            QCOMPARE(entries(QString()), before); // no temporary file, no other name
            QCOMPARE(entries(QFileInfo(stored).path()), QStringList{ QFileInfo(stored).fileName() });
        }
        const QByteArray now = sys.readAppFile(stored);
        QVERIFY2(fault == "none" ? now.startsWith(c.fresh) : now == c.old, now.constData());
        QVERIFY(fault == "directory" || QFileInfo(sys.appPath(c.file)).symLinkTarget() == sys.appPath(stored));
        QVERIFY(fault == "directory" || (QFile::permissions(sys.appPath(stored)) & 0x7077) == mode); // Qt's "user" bits repeat the owner's
        if (c.file == "sys_conf.txt") // a failed configuration file does not undo the name saved before it
            QCOMPARE(sys.readAppFile("device_name.txt"), confs[0].fresh);
    }
};

QTEST_GUILESS_MAIN(tst_safesave)
#include "tst_safesave.moc"
