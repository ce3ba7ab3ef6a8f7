// End to end: kvx-host on four panels of tools/kvx-sim --panels, beside a
// terminal that never answers. The cases share the panels and run in order:
// as a station, devices (with the silent terminal), a faulty recipe, a recipe
// on all four, watch with a fifth panel added; as a service kit, panel 3
// cloned onto panel 4 by backup and restore; a panel whose link vanishes
// during an upload; and last a package built and checked (the upgrade to its
// reboot is the single-panel session's, the installer's steps run in process).

#include "panelsession.h"
#include "sample_sysroot.h"

#include <QtTest>
#include <csignal>

class tst_station_e2e : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_sim;
    PtyLink m_silent;

    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString panel(int k, const char *file) const { return path(QStringLiteral("panel-%1/%2").arg(k).arg(file)); }
    static QString serial(int k) { return QStringLiteral("02140005100000%1").arg(k, 2, 10, QLatin1Char('0')); }
    static QString name(int k) { return k == 1 ? QStringLiteral("Press 1, bay A") : QStringLiteral("Press %1").arg(k); }
    QByteArray read(const QString &file) const
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
    }
    void write(const QString &name, const QByteArray &data) const { QVERIFY(sample::writeFile(path(name), data)); }
    void writeValues(int panels) const // names for the first panels only
    {
        QByteArray text = "serial,name\n";
        for (int k = 1; k <= panels; ++k)
            text += (serial(k) + ",\"" + name(k) + "\"\n").toUtf8();
        write("values.csv", text);
    }
    // -t: generous deadlines on a busy machine. Without -p, on every panel.
    void start(QProcess &p, const QStringList &args) const
    {
        const QStringList station{ "--ports", path("*/host-tty"), "--report", "report.json" };
        p.setWorkingDirectory(m_dir.path());
        p.start(KVX_HOST_EXECUTABLE, QStringList{ "-t", "10" } + (args.first() == "-p" ? QStringList() : station) + args);
    }
    // True when kvx-host ends with the exit code, having printed every text.
    bool host(const QStringList &args, int exitCode, const QStringList &texts = {}, QString *out = nullptr) const
    {
        QProcess p;
        start(p, args);
        if (!p.waitForFinished(120000))
            p.kill();
        p.waitForFinished(5000);
        const QString stdOut = p.readAllStandardOutput(), all = stdOut + p.readAllStandardError();
        bool ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == exitCode;
        for (const QString &text : texts)
            ok = ok && all.contains(text);
        if (!ok)
            qWarning("kvx-host %s:\n%s", qPrintable(args.join(' ')), qPrintable(all));
        if (out)
            *out = stdOut;
        return ok;
    }
    bool on(int k, const QStringList &args, int exitCode, const QStringList &texts = {}) const // on panel k only
    {
        return host(QStringList{ "-p", panel(k, "host-tty") } + args, exitCode, texts);
    }
    QJsonArray report() const { return QJsonDocument::fromJson(read(path("report.json")))["panels"].toArray(); }

private slots:
    void initTestCase()
    {
        m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_sim.start("bash", { KVX_SOURCE_DIR "/tools/kvx-sim", "--panels", "4", "--dir", m_dir.path(), KVX_BUILD_DIR });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path("kvx-sim.pid")), 120000);
        QVERIFY(QFile::copy("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", path("DejaVuSans.ttf")));
        write("blob.bin", QByteArray(300000, 'b'));
    }

    void cleanupTestCase()
    {
        m_sim.terminate(); // the script stops its panels
        m_sim.waitForFinished(30000);
    }

    void devices()
    {
        QVERIFY(m_silent.open() && QDir().mkpath(path("silent")) && m_silent.linkAs(path("silent/host-tty")));
        QString out;
        const bool ok = host({ "devices" }, 0, {}, &out);
        QFile::remove(path("silent/host-tty")); // only here: it costs each later run the whole deadline
        QStringList expected;
        for (int k = 1; k <= 4; ++k)
            expected << QStringLiteral("%1  %2  MVK 200  4.1.0.7  Line 3 Panel").arg(panel(k, "host-tty"), serial(k));
        QVERIFY(ok);
        QCOMPARE(out.split('\n', Qt::SkipEmptyParts), expected);
    }

    void faultSendsNothing()
    {
        write("named.txt", "set name \"${name}\"\nsave\n");
        writeValues(3); // the fourth panel has no line
        QVector<qint64> logSizes;
        for (int k = 1; k <= 4; ++k)
            logSizes << QFileInfo(panel(k, "panel.log")).size();
        QVERIFY(host({ "run", "named.txt", "--values", "values.csv" }, 1,
                     { QStringLiteral("named.txt:1: panel %1: no value for ${name}").arg(serial(4)) }));
        for (int k = 1; k <= 4; ++k) // the panels saw the probe only
            for (const QByteArray &line : read(panel(k, "panel.log")).mid(logSizes.at(k - 1)).split('\n'))
                QVERIFY2(!line.startsWith("CXM:") || line == "CXM: HWCF", line.constData());
    }

    void recipeOnFour()
    {
        writeValues(4);
        write("recipe.txt", "// the line's panels\nset name \"${name}\"\ntime\nupload blob.bin --name \"blob ${index}.bin\"\n"
                            "upload DejaVuSans.ttf\nsave\ncheck DEVNAM \"${name}\"\n");
        QVERIFY(host({ "run", "recipe.txt", "--values", "values.csv" }, 0));
        QCOMPARE(report().size(), 4);
        for (int k = 1; k <= 4; ++k) {
            QCOMPARE(read(panel(k, "app/device_name.txt")), "NAM<" + name(k).toUtf8() + ">\n");
            QCOMPARE(read(path(QStringLiteral("panel-%1/app/tmp/blob %1.bin").arg(k))), QByteArray(300000, 'b'));
            QVERIFY(QFile::exists(panel(k, "app/fonts/DejaVuSans.ttf")));
            QCOMPARE(report().at(k - 1)["result"].toString(), QStringLiteral("done"));
        }
    }

    void watchAddedPanel()
    {
        write("watch.txt", "set name \"W${index}\"\nsave\n");
        QVERIFY(QFile::remove(path("report.json"))); // watch adds to a report
        QProcess watch, add;
        start(watch, { "watch", "watch.txt" });
        QTRY_COMPARE_WITH_TIMEOUT(report().size(), 4, 60000);
        add.start("bash", { KVX_SOURCE_DIR "/tools/kvx-sim", "--add-panel", m_dir.path() });
        QVERIFY(add.waitForFinished(60000) && add.exitCode() == 0);
        QTRY_COMPARE_WITH_TIMEOUT(report().size(), 5, 60000);
        ::kill(static_cast<pid_t>(watch.processId()), SIGINT);
        QVERIFY(watch.waitForFinished(60000) && watch.exitCode() == 0);
        QCOMPARE(report().size(), 5); // each panel once
        QCOMPARE(report().at(4)["serial"].toString(), serial(5));
        QCOMPARE(read(panel(5, "app/device_name.txt")), QByteArray("NAM<W5>\n"));
    }

    void cloneByBackupAndRestore()
    {
        write("settings.txt", "raw #BKLT<55>#\nraw #DIGC<3><OUT><HI>#\nraw #DIGC<4><IN>#\nraw #PWMC<1><200>#\n"
                              "raw #ALMC<2><HI>#\nraw #DORI<1>#\nraw #DRPN<1>#\nraw #CHBT<0>#\n"
                              "raw '#DTIM<2024-02-29 13:05:07:250 120>#'\nsave\n");
        QVERIFY(host({ "--serial", serial(3), "run", "settings.txt" }, 0));
        write("panel-3/app/fonts/Sample.ttf", QByteArray(3000, 'f'));
        const QString fromA = path("kit/" + serial(3)), fromB = path("kit/" + serial(4));
        QVERIFY(on(3, { "backup", "kit" }, 0, { "fonts: 2 file(s)", "project files: 3" }));
        QVERIFY(QFile::exists(fromA + "/project/main.qml") && QFile::exists(fromA + "/hwcf.txt"));
        const QByteArray saved = read(fromA + "/sys_conf.txt");
        write("kit/" + serial(3) + "/sys_conf.txt", saved + "DIO<3>H\n"); // damaged: the panel would ignore it
        const QString skipped = QStringLiteral("not restored: sys_conf.txt line %1 skipped: \"DIO<3>H\"").arg(saved.count('\n') + 1);
        QVERIFY(on(4, { "restore", fromA }, 0, { skipped, "not restored: 3 project file(s)" }));
        write("kit/" + serial(3) + "/sys_conf.txt", saved);
        QVERIFY(on(4, { "backup", "kit" }, 0));
        for (const char *name : { "sys_conf.txt", "device_name.txt", "lowBatteryConf.txt", "timezone.cfg", "fonts/Sample.ttf" })
            QCOMPARE(read(fromB + '/' + name), read(fromA + '/' + name));
    }

    void vanishedPanelFailsAlone()
    {
        write("big.bin", QByteArray(16 << 20, 'v'));
        write("big.txt", "// line 1: a comment, not a step\ntime\nupload big.bin\nsave\n");
        QProcess run;
        start(run, { "run", "big.txt" });
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(panel(2, "app/tmp/big.bin")).size() > 0, 60000);
        QCOMPARE(::kill(static_cast<pid_t>(read(panel(2, "socat.pid")).trimmed().toInt()), SIGTERM), 0);
        QVERIFY(run.waitForFinished(120000) && run.exitCode() != 0);
        QCOMPARE(report().size(), 5);
        for (const QJsonValue &p : report()) {
            const bool vanished = p["serial"].toString() == serial(2);
            QCOMPARE(p["ok"].toBool(), !vanished);
            QVERIFY(!vanished || p["result"].toString().startsWith("failed at line 3 (step 2 of 3)"));
            QVERIFY(!vanished || p["steps"].toArray().last()["line"].toInt() == 3);
        }
    }

    void packageBuiltAndChecked()
    {
        QVERIFY(QDir().mkpath(path("src/bin")) && QFile::copy("/bin/true", path("src/bin/tool")));
        QVERIFY(QFile::link("tool", path("src/bin/link")));
        write("src/post_install", "#!/bin/sh\n");
        QVERIFY(on(3, { "package", "src", "-o", "fw.tar.gz" }, 1, { "has no pre_install file" }));
        write("src/pre_install", "#!/bin/sh\n");
        QVERIFY(on(3, { "package", "src", "-o", "fw.tar.gz" }, 0, { "fw.tar.gz: ", " bytes, MD5 " }));
        QFile tool(path("src/bin/tool")); // new times, same bytes: the same package
        QVERIFY(tool.open(QIODevice::ReadWrite) && tool.setFileTime(QDateTime(QDate(2001, 2, 3), QTime(0, 0)), QFile::FileModificationTime));
        tool.close();
        QVERIFY(on(3, { "package", "src", "-o", "again.tar.gz" }, 0));
        QCOMPARE(read(path("again.tar.gz")), read(path("fw.tar.gz")));
        write("bad.tar.gz", QByteArray(5000, 'x')); // what the panel would only find out after the transfer
        QVERIFY(on(3, { "check", "bad.tar.gz" }, 1, { "error: bad.tar.gz: not a gzip file" }));
        QVERIFY(on(3, { "upgrade", "bad.tar.gz" }, 1, { "bad.tar.gz not sent" }));
        QVERIFY(on(3, { "check", "fw.tar.gz" }, 0, { "0 error(s), 0 warning(s)" }));
    }
};

QTEST_GUILESS_MAIN(tst_station_e2e)
#include "tst_station_e2e.moc"
