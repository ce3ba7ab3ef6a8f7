// The station's recipe and values readers and the per-panel check: every
// fault names its file and line, and nothing is opened to find it.

#include "plan.h"
#include "report.h"

#include <QtTest>

class tst_station : public QObject
{
    Q_OBJECT

    static void row(const char *name, const QByteArray &recipe, const QByteArray &values, const QString &expected)
    {
        QTest::newRow(name) << recipe << values << expected;
    }

private slots:
    void reader_data()
    {
        QTest::addColumn<QByteArray>("recipe");
        QTest::addColumn<QByteArray>("values");
        QTest::addColumn<QString>("expected"); // the problem, or the first step's words for panel S1
        const QByteArray names = "serial,name\nS1,\"Bay 1, \"\"left\"\"\"\nS2,x\n", info = "info\n";
        row("quoting", "// comment\n\n  set name \"${name} (${index})\"'s ${x}'\\ b\n", names,
            "set|name|Bay 1, \"left\" (1)s ${x} b");
        row("raw frame", "raw #SNAM<a//b>#\n", {}, "raw|#SNAM<a//b>#");
        row("own values", "exec echo ${serial}-${model} ${port}\r\n", {}, "exec|echo|S1-M|/dev/kvx-none");
        row("unknown command", "info\nflash x\n", {}, "recipe:2: unknown command \"flash\"");
        row("after upgrade", "upgrade p.bin\n// end\nsave\n", {}, "recipe:3: nothing can follow upgrade on line 1");
        row("open quote", "set name 'x\n", {}, "recipe:1: a single quote is not closed");
        row("bad reference", "info\nset name ${na me}\n", {}, "recipe:2: \"${\" starts");
        row("variable command", "${cmd}\n", {}, "recipe:1: unknown command");
        row("long line", "info\ninfo " + QByteArray(100000, 'x'), {}, "recipe:2: the line is longer than 4096");
        row("control character", "info\x01\n", {}, "recipe:1: the line holds a control");
        row("no command", "// only\n", {}, "recipe: the recipe holds no command");
        row("csv broken quote", info, "serial,name\nS1,\"open\n", "values:2: a quoted value is not closed");
        row("csv stray quote", info, "serial,name\nS1,a\"b\n", "values:2: a quote inside");
        row("csv text after quote", info, "serial\n\"S1\"x\n", "values:2: text follows");
        row("csv count", info, "serial,name\nS1\n", "values:2: 1 values where the header names 2");
        row("csv no serial", info, "name\nA\n", "values:1: no \"serial\" column");
        row("csv twice", info, "serial\nS1\n\nS1\n", "values:4: serial number S1 is also on line 2");
        row("csv own name", info, "serial,port\n", "values:1: the column \"port\"");
        row("csv long line", info, "serial\n" + QByteArray(100000, 'S'), "values:2: the line is longer");
        row("missing value", "info\nset name ${name}\n", "serial,name\nS2,x\n",
            "recipe:2: panel S1: no value for ${name} (values has no line");
        row("missing column", "set name ${nom}\n", names, "recipe:1: panel S1: no value for ${nom}");
        row("unreadable file", "info\nupload /nonexistent/x.bin\n", {}, "recipe:2: panel S1: cannot read /nonexistent/x.bin");
        row("bad argument", "set backlight 300\n", {}, "recipe:1: panel S1: the backlight");
        row("check tag", "check FIRMWARE 1\n", {}, "recipe:1: panel S1: usage: check");
        row("check", "check FIRMWD '4.1 .0'\n", {}, "check|FIRMWD|4.1 .0");
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
        const PanelInfo panel{ "/dev/kvx-none", "S1", "M", {}, {} };
        if (parseRecipe("recipe", recipe, recipeCommands(), &r, &problem)
            && (values.isEmpty() || parseValues("values", values, &v, &problem))
            && planPanel(r, v, panel, 1, HostOptions(), &plan, &problem))
            problem = plan.commands.value(0).join('|');
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
        QStringList fields;
        QVERIFY(writeReport(path, { p }, &problem) && appendReport(path, p, &problem));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() == 3 && splitCsvLine(lines.at(2), &fields, &problem));
        QCOMPARE(fields, (QStringList{ "/dev/a", "S1", "M", "4.1", p.result(), "3", p.steps.at(0).command, "failed", "0",
                                       "0.500", p.steps.at(0).message }));
        QVERIFY(QFile(path).resize(10) && !appendReport(path, p, &problem)); // a header cut short: not a report
        QCOMPARE(QFileInfo(path).size(), 10);
    }
};

QTEST_GUILESS_MAIN(tst_station)
#include "tst_station.moc"
