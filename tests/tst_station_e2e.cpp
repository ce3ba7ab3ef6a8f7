// End to end: kvx-host as a station on four panels of tools/kvx-sim --panels,
// beside a terminal that never answers. The cases share the panels and run in
// order: devices (with the silent terminal), a faulty recipe, a recipe on all
// four, watch with a fifth panel added, and last a panel whose link vanishes
// during an upload.

#include "panelsession.h"

#include <QtTest>
#include <csignal>

struct HostResult { int exitCode = -1; QString out, err; };

class tst_station_e2e : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_sim;
    PtyLink m_silent;

    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QStringList hostArgs(const QStringList &args) const
    {
        // -t: a generous deadline for every answer on a busy machine.
        return QStringList{ "-t", "10", "--ports", path("*/host-tty"), "--report", path("report.json") } + args;
    }
    HostResult host(const QStringList &args)
    {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.start(QStringLiteral(KVX_HOST_EXECUTABLE), hostArgs(args));
        if (!p.waitForFinished(120000))
            p.kill();
        p.waitForFinished(5000);
        return { p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
                 p.readAllStandardError() };
    }
    QByteArray read(const QString &name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
    }
    QJsonArray reportPanels() const
    {
        QFile f(path("report.json"));
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll())["panels"].toArray() : QJsonArray();
    }
    static QString serial(int k) { return QStringLiteral("02140005100000%1").arg(k, 2, 10, QLatin1Char('0')); }
    static QString name(int k) { return k == 1 ? QStringLiteral("Press 1, bay A") : QStringLiteral("Press %1").arg(k); }
    void writeValues(int panels) const // names for the first panels only
    {
        QByteArray text = "serial,name\n";
        for (int k = 1; k <= panels; ++k)
            text += (serial(k) + ",\"" + name(k) + "\"\n").toUtf8();
        write("values.csv", text);
    }
    void write(const QString &name, const QByteArray &data) const
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(data) == data.size());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_sim.start(QStringLiteral("bash"), { KVX_SOURCE_DIR "/tools/kvx-sim", "--panels", "4", "--dir", m_dir.path(),
                                             KVX_BUILD_DIR });
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path("kvx-sim.pid")), 120000);
        QVERIFY(QFile::copy(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"), path("DejaVuSans.ttf")));
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
        const HostResult r = host({ "devices" });
        QFile::remove(path("silent/host-tty")); // only here: it costs each later run the whole deadline
        QCOMPARE(r.exitCode, 0);
        QStringList expected;
        for (int k = 1; k <= 4; ++k)
            expected << QStringLiteral("%1  %2  MVK 200  4.1.0.7  Line 3 Panel").arg(path(QStringLiteral("panel-%1/host-tty").arg(k)), serial(k));
        QCOMPARE(r.out.split('\n', Qt::SkipEmptyParts), expected);
    }

    void faultSendsNothing()
    {
        // The fourth panel has no line in the values file.
        write("named.txt", "set name \"${name}\"\nsave\n");
        writeValues(3);
        QVector<qint64> logSizes;
        for (int k = 1; k <= 4; ++k)
            logSizes << QFileInfo(path(QStringLiteral("panel-%1/panel.log").arg(k))).size();
        const HostResult r = host({ "run", "named.txt", "--values", "values.csv" });
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("named.txt:1: panel %1: no value for ${name}").arg(serial(4))), qPrintable(r.err));
        for (int k = 1; k <= 4; ++k) {
            QFile log(path(QStringLiteral("panel-%1/panel.log").arg(k)));
            QVERIFY(log.open(QIODevice::ReadOnly) && log.seek(logSizes.at(k - 1)));
            for (const QByteArray &line : log.readAll().split('\n'))
                QVERIFY2(!line.startsWith("CXM:") || line == "CXM: HWCF", line.constData()); // the probe only
        }
    }

    void recipeOnFour()
    {
        writeValues(4);
        write("recipe.txt", "// the line's panels\nset name \"${name}\"\ntime\nupload blob.bin --name \"blob ${index}.bin\"\n"
                            "upload DejaVuSans.ttf\nsave\ncheck DEVNAM \"${name}\"\n");
        const HostResult r = host({ "--log-dir", path("logs"), "run", "recipe.txt", "--values", "values.csv" });
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        const QJsonArray panels = reportPanels();
        QCOMPARE(panels.size(), 4);
        for (int k = 1; k <= 4; ++k) {
            QCOMPARE(read(QStringLiteral("panel-%1/app/device_name.txt").arg(k)), "NAM<" + name(k).toUtf8() + ">\n");
            QVERIFY(QFile::exists(path(QStringLiteral("panel-%1/app/tmp/blob %1.bin").arg(k))));
            QVERIFY(QFile::exists(path(QStringLiteral("panel-%1/app/fonts/DejaVuSans.ttf").arg(k))));
            const QJsonObject p = panels.at(k - 1).toObject();
            QCOMPARE(p["serial"].toString(), serial(k));
            QCOMPARE(p["result"].toString(), QStringLiteral("done"));
            QCOMPARE(p["steps"].toArray().size(), 6);
            QCOMPARE(p["steps"].toArray().at(2)["bytes"].toInt(), 300000);
            QVERIFY(QFile::exists(path(QStringLiteral("logs/%1.log").arg(serial(k)))));
        }
    }

    void watchAddedPanel()
    {
        write("watch.txt", "set name \"W${index}\"\nsave\n");
        QVERIFY(QFile::remove(path("report.json"))); // watch adds to a report
        QProcess watch;
        watch.setWorkingDirectory(m_dir.path());
        watch.start(QStringLiteral(KVX_HOST_EXECUTABLE), hostArgs({ "watch", "watch.txt" }));
        QTRY_COMPARE_WITH_TIMEOUT(reportPanels().size(), 4, 60000);
        QProcess add;
        add.start(QStringLiteral("bash"), { KVX_SOURCE_DIR "/tools/kvx-sim", "--add-panel", m_dir.path() });
        QVERIFY(add.waitForFinished(60000) && add.exitCode() == 0);
        QTRY_COMPARE_WITH_TIMEOUT(reportPanels().size(), 5, 60000);
        ::kill(static_cast<pid_t>(watch.processId()), SIGINT);
        QVERIFY(watch.waitForFinished(60000));
        QCOMPARE(watch.exitCode(), 0);
        const QJsonArray panels = reportPanels();
        QCOMPARE(panels.size(), 5); // each panel once
        QCOMPARE(panels.at(4)["serial"].toString(), serial(5));
        QCOMPARE(read("panel-5/app/device_name.txt"), QByteArray("NAM<W5>\n"));
    }

    void vanishedPanelFailsAlone()
    {
        write("big.bin", QByteArray(16 << 20, 'v'));
        write("big.txt", "time\nupload big.bin\nsave\n");
        QProcess run;
        run.setWorkingDirectory(m_dir.path());
        run.start(QStringLiteral(KVX_HOST_EXECUTABLE), hostArgs({ "run", "big.txt" }));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path("panel-2/app/tmp/big.bin")).size() > 0, 60000);
        QCOMPARE(::kill(static_cast<pid_t>(read("panel-2/socat.pid").trimmed().toInt()), SIGTERM), 0);
        QVERIFY(run.waitForFinished(120000));
        QVERIFY(run.exitCode() != 0);
        const QJsonArray panels = reportPanels();
        QCOMPARE(panels.size(), 5);
        for (const QJsonValue &p : panels) {
            const bool vanished = p["serial"].toString() == serial(2);
            QCOMPARE(p["ok"].toBool(), !vanished);
            if (vanished)
                QVERIFY2(p["result"].toString().startsWith("failed at line 2 (step 2 of 3)"), qPrintable(p["result"].toString()));
        }
    }
};

QTEST_GUILESS_MAIN(tst_station_e2e)
#include "tst_station_e2e.moc"
