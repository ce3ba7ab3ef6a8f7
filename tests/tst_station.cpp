// The station's recipe and values readers and the per-panel check: every
// fault names its file and line, and nothing is opened to find it.

#include "plan.h"
#include "report.h"

#include <QtTest>

class tst_station : public QObject
{
    Q_OBJECT

private slots:
    void reader_data()
    {
        QTest::addColumn<QByteArray>("recipe");
        QTest::addColumn<QByteArray>("values");
        // The problem, or the first step's words filled in for panel S1.
        QTest::addColumn<QString>("expected");
        const QByteArray names = "serial,name\nS1,\"Bay 1, \"\"left\"\"\"\nS2,x\n";
        QTest::newRow("quoting") << QByteArray("// comment\n\n  set name \"${name} (${index})\"'s ${x}'\\ b\n") << names
                                 << "set|name|Bay 1, \"left\" (1)s ${x} b";
        QTest::newRow("raw frame") << QByteArray("raw #SNAM<a//b>#\n") << QByteArray() << "raw|#SNAM<a//b>#";
        QTest::newRow("own values") << QByteArray("exec echo ${serial}-${model} ${port}\r\n") << QByteArray()
                                    << "exec|echo|S1-M|/dev/kvx-none";
        QTest::newRow("unknown command") << QByteArray("info\nflash x\n") << QByteArray() << "recipe:2: unknown command \"flash\"";
        QTest::newRow("after upgrade") << QByteArray("upgrade p.bin\n// end\nsave\n") << QByteArray()
                                       << "recipe:3: nothing can follow upgrade on line 1";
        QTest::newRow("open quote") << QByteArray("set name 'x\n") << QByteArray() << "recipe:1: a single quote is not closed";
        QTest::newRow("bad reference") << QByteArray("info\nset name ${na me}\n") << QByteArray() << "recipe:2: \"${\" starts";
        QTest::newRow("variable command") << QByteArray("${cmd}\n") << QByteArray() << "recipe:1: unknown command";
        QTest::newRow("long line") << "info\ninfo " + QByteArray(100000, 'x') << QByteArray()
                                   << "recipe:2: the line is longer than 4096";
        QTest::newRow("control character") << QByteArray("info\x01\n") << QByteArray() << "recipe:1: the line holds a control";
        QTest::newRow("no command") << QByteArray("// only\n") << QByteArray() << "recipe: the recipe holds no command";
        QTest::newRow("csv broken quote") << QByteArray("info\n") << QByteArray("serial,name\nS1,\"open\n")
                                          << "values:2: a quoted value is not closed";
        QTest::newRow("csv stray quote") << QByteArray("info\n") << QByteArray("serial,name\nS1,a\"b\n")
                                         << "values:2: a quote inside";
        QTest::newRow("csv text after quote") << QByteArray("info\n") << QByteArray("serial\n\"S1\"x\n")
                                              << "values:2: text follows";
        QTest::newRow("csv count") << QByteArray("info\n") << QByteArray("serial,name\nS1\n")
                                   << "values:2: 1 values where the header names 2";
        QTest::newRow("csv no serial") << QByteArray("info\n") << QByteArray("name\nA\n") << "values:1: no \"serial\" column";
        QTest::newRow("csv twice") << QByteArray("info\n") << QByteArray("serial\nS1\n\nS1\n")
                                   << "values:4: serial number S1 is also on line 2";
        QTest::newRow("csv own name") << QByteArray("info\n") << QByteArray("serial,port\n") << "values:1: the column \"port\"";
        QTest::newRow("csv long line") << QByteArray("info\n") << "serial\n" + QByteArray(100000, 'S')
                                       << "values:2: the line is longer";
        QTest::newRow("missing value") << QByteArray("info\nset name ${name}\n") << QByteArray("serial,name\nS2,x\n")
                                       << "recipe:2: panel S1: no value for ${name} (values has no line";
        QTest::newRow("missing column") << QByteArray("set name ${nom}\n") << names << "recipe:1: panel S1: no value for ${nom}";
        QTest::newRow("unreadable file") << QByteArray("info\nupload /nonexistent/x.bin\n") << QByteArray()
                                         << "recipe:2: panel S1: cannot read /nonexistent/x.bin";
        QTest::newRow("bad argument") << QByteArray("set backlight 300\n") << QByteArray() << "recipe:1: panel S1: the backlight";
        QTest::newRow("check tag") << QByteArray("check FIRMWARE 1\n") << QByteArray() << "recipe:1: panel S1: usage: check";
        QTest::newRow("check") << QByteArray("check FIRMWD '4.1 .0'\n") << QByteArray() << "check|FIRMWD|4.1 .0";
    }

    void reader()
    {
        QFETCH(QByteArray, recipe);
        QFETCH(QByteArray, values);
        QFETCH(QString, expected);
        Recipe r;
        ValuesTable v;
        PanelPlan plan;
        QString problem;
        // A port that does not exist: a check that opened it would fail.
        const PanelInfo panel{ QStringLiteral("/dev/kvx-none"), QStringLiteral("S1"), QStringLiteral("M"), {}, {} };
        if (parseRecipe(QStringLiteral("recipe"), recipe, recipeCommands(), &r, &problem)
            && (values.isEmpty() || parseValues(QStringLiteral("values"), values, &v, &problem))
            && planPanel(r, v, panel, 1, HostOptions(), &plan, &problem))
            problem = plan.commands.value(0).join(QLatin1Char('|'));
        QVERIFY2(problem.startsWith(expected), qPrintable(problem));
    }

    // A CSV report reads back field for field; watch adds to it, and to
    // nothing that is not one.
    void csvReport()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("r.csv");
        PanelResult p{ "/dev/a", "S1", "M", "4.1", {}, 2, false, {} };
        p.steps << StepResult{ 3, "set name 'Bay 1, \"left\"'", false, "refused, \"<SNAM:ERR>\"", 0, 0.5 };
        QString problem;
        QVERIFY(writeReport(path, { p }, &problem) && appendReport(path, p, &problem));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
        QStringList fields;
        QCOMPARE(lines.size(), 3);
        QVERIFY(splitCsvLine(lines.at(2), &fields, &problem));
        QCOMPARE(fields, (QStringList{ "/dev/a", "S1", "M", "4.1", p.result(), "3", p.steps.at(0).command, "failed", "0",
                                       "0.500", p.steps.at(0).message }));
        QVERIFY(QFile(path).resize(10)); // a header cut short: not a report
        QVERIFY(!appendReport(path, p, &problem));
        QCOMPARE(QFileInfo(path).size(), 10);
    }
};

QTEST_GUILESS_MAIN(tst_station)
#include "tst_station.moc"
