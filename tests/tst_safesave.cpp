// Configuration saves replace their files in one step: a save that fails, or
// a process that dies in the middle of one, leaves the old file as it was,
// and a save that succeeds keeps the file's link and permissions.

#include "hdw_config.h"
#include "testsysroot.h"

#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// What the process writes to standard output while work runs, line by line.
// Through a pipe rather than a file: the limit on file sizes that makes a
// save fail does not apply to a pipe, so no diagnostic is lost to it.
template <typename Work>
static QStringList captured(Work work)
{
    int ends[2];
    if (pipe(ends) != 0)
        return { "no pipe" };
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(ends[1], STDOUT_FILENO);
    close(ends[1]);
    work();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    QFile in;
    in.open(ends[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    QStringList lines = QString::fromLatin1(in.readAll()).split('\n');
    lines.removeLast();
    return lines;
}

static const QStringList files{ "device_name.txt", "sys_conf.txt", "lowBatteryConf.txt", "timezone.cfg" };

static QByteArray oldContent(const QString &file)
{
    static const QHash<QString, QByteArray> old{ { files[0], "NAM<Old name>\n" },
                                                 { files[1], "BLK<080>\nDIO<00>H\nCOM<0>Y\n" },
                                                 { files[2], "CKB<0>\n" },
                                                 { files[3], "-300" } };
    return old.value(file);
}

// The start of what the save writes when it succeeds.
static QByteArray newContent(const QString &file)
{
    static const QHash<QString, QByteArray> fresh{ { files[0], "NAM<New name>\n" },
                                                   { files[1], "BLK<035>\nDIO<00>H\nDIO<01>U\n" },
                                                   { files[2], "CKB<1>\n" },
                                                   { files[3], "60" } };
    return fresh.value(file);
}

// A panel whose four files hold their old content, constructed from them,
// with new settings in memory waiting to be saved.
struct Bench {
    TestSysroot sys;
    std::unique_ptr<HDW_config> cfg;

    Bench()
    {
        sys.populate();
        for (const QString &file : files)
            sys.writeAppFile(file, oldContent(file));
        sys.activate();
        hwcfg_data = hwcfg_struct();
        QTest::ignoreMessage(QtDebugMsg, "HWI: Rd timezone.cfg");
        captured([this] { cfg.reset(new HDW_config); });
        qstrncpy(hwcfg_data.devName, "New name", sizeof hwcfg_data.devName);
        hwcfg_data.backlight = 35;
    }

    // Runs the operation that writes file; the result as text ("" for the
    // battery-low check, which has none).
    QString save(const QString &file)
    {
        if (file == "lowBatteryConf.txt") {
            cfg->confBatteryLowCheck(true);
            return QString();
        }
        if (file == "timezone.cfg") {
            // The offset is stored and written before the date is looked at;
            // a day that does not exist keeps the clock (and its file) out.
            QString text = QStringLiteral("2024-02-30 13:05:07:250 60");
            QTest::ignoreMessage(QtDebugMsg, "TZ offset : 60 min");
            QTest::ignoreMessage(QtDebugMsg, "Wrong datetime: 2024-02-30 13:05:07:250 60");
            return cfg->setExternalRTC(true, true, &text) ? "true" : "false";
        }
        return QString::number(cfg->saveHardwareConfig());
    }

    QStringList entries(const QString &dir = QString()) const
    {
        return QDir(sys.appPath(dir)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    }
};

// Sets the soft limit on the size of any file this process writes.
static void limitFileSize(rlim_t bytes)
{
    struct rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

class tst_safesave : public QObject
{
    Q_OBJECT

private slots:
    void failedSaveKeepsOldFile_data();
    void failedSaveKeepsOldFile();
    void savedFileKeepsLinkAndMode_data();
    void savedFileKeepsLinkAndMode();
};

void tst_safesave::failedSaveKeepsOldFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("sizeLimit"); // small enough to stop the new content of file only
    QTest::addColumn<QString>("result");
    QTest::addColumn<QStringList>("lines");

    struct Case {
        const char *file;
        int sizeLimit;
        const char *result;
        QStringList lines;
    };
    const Case cases[] = {
        { "device_name.txt", 4, "-1", { "HWI: Can't Write Dev Name." } },
        { "sys_conf.txt", 20, "-1", { "HWI: Can't Write Conf." } },
        { "lowBatteryConf.txt", 3, "", { "HWI: Can't WR Low Bat. Conf. File" } },
        // Silent; false only for the date.
        { "timezone.cfg", 1, "false", {} },
    };
    // refused: the file system refuses the data (a full disk); killed: the
    // process dies in the middle of writing; directory: a directory with
    // content stands where the file should be replaced.
    for (const char *fault : { "refused", "killed", "directory" }) {
        for (const Case &c : cases)
            QTest::addRow("%s, %s", c.file, fault) << c.file << fault << c.sizeLimit << c.result << c.lines;
    }
}

void tst_safesave::failedSaveKeepsOldFile()
{
    QFETCH(QString, file);
    QFETCH(QString, fault);
    QFETCH(int, sizeLimit);
    QFETCH(QString, result);
    QFETCH(QStringList, lines);

    Bench b;
    if (fault == "directory") {
        QVERIFY(QFile::remove(b.sys.appPath(file)));
        b.sys.makeAppDir(file);
        b.sys.writeAppFile(file + "/kept", "inside");
    }
    const QStringList before = b.entries();

    if (fault == "killed") {
        fflush(stdout);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // Writing past the limit ends the process at once, as a crash would.
            signal(SIGXFSZ, SIG_DFL);
            struct rlimit noCore {};
            setrlimit(RLIMIT_CORE, &noCore);
            limitFileSize(static_cast<rlim_t>(sizeLimit));
            b.save(file);
            _exit(0);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ, qPrintable(QString::number(status)));
    } else {
        // A write past the limit then fails with an error instead.
        void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
        QString got;
        const QStringList out = captured([&] {
            if (fault == "refused")
                limitFileSize(static_cast<rlim_t>(sizeLimit));
            got = b.save(file);
            limitFileSize(RLIM_INFINITY);
        });
        signal(SIGXFSZ, oldHandler);
        QCOMPARE(got, result);
        QCOMPARE(out, lines);
        // Nothing left behind: no temporary file, no other name.
        QCOMPARE(b.entries(), before);
    }

    if (fault == "directory") {
        QCOMPARE(b.entries(file), QStringList{ "kept" });
        QCOMPARE(b.sys.readAppFile(file + "/kept"), QByteArray("inside"));
    } else {
        QCOMPARE(b.sys.readAppFile(file), oldContent(file));
    }
    // A failed configuration file does not undo the name saved before it,
    // and the settings in memory stay changed.
    if (file == "sys_conf.txt")
        QCOMPARE(b.sys.readAppFile("device_name.txt"), newContent("device_name.txt"));
    if (fault != "killed") {
        if (file == "lowBatteryConf.txt")
            QVERIFY(b.cfg->isBatteryLowCheckEnable());
        QCOMPARE(b.cfg->currentTimeZone(), file == "timezone.cfg" ? 60 : -300);
    }
}

void tst_safesave::savedFileKeepsLinkAndMode_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("linked"); // else: an unusual mode
    for (const QString &file : files) {
        QTest::addRow("%s, symbolic link", qPrintable(file)) << file << true;
        QTest::addRow("%s, mode 0640", qPrintable(file)) << file << false;
    }
}

void tst_safesave::savedFileKeepsLinkAndMode()
{
    QFETCH(QString, file);
    QFETCH(bool, linked);

    Bench b;
    const QString stored = linked ? "persist/" + file : file;
    const QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    if (linked) {
        // The panel's file lives elsewhere; the name in the working directory
        // only points at it.
        b.sys.makeAppDir("persist");
        QVERIFY(QFile::rename(b.sys.appPath(file), b.sys.appPath(stored)));
        QVERIFY(QFile::link(stored, b.sys.appPath(file)));
    } else {
        QVERIFY(QFile::setPermissions(b.sys.appPath(file), mode));
    }
    const QStringList before = b.entries();

    const QStringList out = captured([&] { b.save(file); });
    const QString success = file == "lowBatteryConf.txt" ? "HWI: Bat. Chk ON"
        : file == "timezone.cfg"                         ? QString()
                                                         : "HWI: Conf. Saved";
    QCOMPARE(out, success.isEmpty() ? QStringList() : QStringList{ success });

    QVERIFY2(b.sys.readAppFile(stored).startsWith(newContent(file)), b.sys.readAppFile(stored).constData());
    QCOMPARE(b.entries(), before);
    if (linked) {
        QCOMPARE(QFileInfo(b.sys.appPath(file)).symLinkTarget(), b.sys.appPath(stored));
        QCOMPARE(b.entries("persist"), QStringList{ file });
    } else {
        // Owner, group and others; Qt's "user" bits repeat the owner's here.
        QCOMPARE(QFile::permissions(b.sys.appPath(file)) & 0x7077, mode);
    }
}

QTEST_GUILESS_MAIN(tst_safesave)
#include "tst_safesave.moc"
