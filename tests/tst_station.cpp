// What the host reads before it sends anything. The station's recipe and
// values readers and the per-panel check: every fault names its file and
// line, and nothing is opened to find it. The upgrade package check, on
// packages crafted entry by entry with a small tar writer of its own, so that
// device nodes, absolute paths and foreign programs need neither root nor binaries.

#include "package.h"
#include "plan.h"
#include "report.h"

#include <QtTest>
#include <numeric>

namespace {

// One tar entry; size is what its header claims, if not the data's size.
struct Entry { QByteArray name; char type; int mode; QByteArray data, link; qint64 size = -1; };

QByteArray tarOf(const QList<Entry> &entries)
{
    QByteArray tar;
    for (const Entry &e : entries) {
        if (e.name.size() > 99) // GNU long name record
            tar += tarOf({ { "././@LongLink", 'L', 0644, e.name + '\0', {} } }).chopped(1024);
        QByteArray h(512, '\0');
        auto put = [&h](int at, const QByteArray &v) { h.replace(at, qMin(v.size(), 100), v.left(100)); };
        put(0, e.name);
        put(100, QByteArray::number(e.mode, 8).rightJustified(7, '0'));
        put(124, QByteArray::number(e.size < 0 ? e.data.size() : e.size, 8).rightJustified(11, '0'));
        put(148, "        ");
        h[156] = e.type;
        put(157, e.link);
        put(257, QByteArray("ustar\0" "00", 8));
        const int sum = std::accumulate(h.begin(), h.end(), 0, [](int total, char c) { return total + static_cast<unsigned char>(c); });
        put(148, QByteArray::number(sum, 8).rightJustified(6, '0') + '\0');
        tar += h + e.data + QByteArray((512 - e.data.size() % 512) % 512, '\0');
    }
    return tar + QByteArray(1024, '\0');
}

QByteArray gzip(const QByteArray &data) { QByteArray out; return gzipCompress(data, &out) ? out : QByteArray(); }

QByteArray elf(char bits, char machine)
{
    return QByteArray("\x7f" "ELF", 4) + bits + '\1' + QByteArray(12, '\0') + machine + QByteArray(41, '\0');
}

// A script and a 32-bit ARM program's start: what the panel can run.
const Entry pre{ "pre_install", '0', 0755, "#!/bin/sh\n", {} }, post{ "post_install", '0', 0755, elf(1, 40), {} };

} // namespace

class tst_station : public QObject
{
    Q_OBJECT

private slots:
    void reader_data()
    {
        QTest::addColumn<QByteArray>("recipe");
        QTest::addColumn<QByteArray>("values");
        QTest::addColumn<QString>("expected"); // the problem, or the first step's words for panel S1
        auto row = [](const char *name, const QByteArray &recipe, const QByteArray &values, const QString &expected) {
            QTest::newRow(name) << recipe << values << expected; };
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

    void findings_data()
    {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // one line of describe(), or "" for none
        const QByteArray good = gzip(tarOf({ pre, post }));
        auto with = [](QList<Entry> extra) { return gzip(tarOf(QList<Entry>{ pre, post } + extra)); };
        auto post2 = [](const QByteArray &data, int mode = 0755, char type = '0') { return gzip(tarOf({ pre, { "post_install", type, mode, data, {} } })); };
        QTest::newRow("good") << good << "p" << "";
        QTest::newRow("0 bytes") << QByteArray() << "p" << "error: p: the package is empty (0 bytes): not a gzip file";
        QTest::newRow("not tar") << gzip(QByteArray(2048, 'x')) << "p" << "error: not a tar archive (the first header is not one)";
        QTest::newRow("truncated") << good.left(good.size() / 2) << "p" << "error: p: truncated: the compressed data ends early";
        QTest::newRow("CRC-32 wrong") << QByteArray(good).replace(good.size() - 8, 1, "?") << "p" << "error: p: damaged compressed data: the panel's tar cannot read it";
        QTest::newRow("ends in an entry") << gzip(tarOf({ pre, post }).left(1024 + 5)) << "p" << "error: p: truncated: the archive ends inside an entry";
        QTest::newRow("damaged header") << gzip(tarOf({ pre }).left(1024) + QByteArray(1024, 'x')) << "p" << "error: damaged tar header after 1 entries";
        QTest::newRow("1 GiB long name") << with({ { "././@LongLink", 'L', 0644, {}, {}, 1 << 30 } }) << "p" << "error: p: unreadable tar archive after 2 entries: Special header too large";
        QTest::newRow("blank in name") << good << "new fw.tar.gz" << "error: new fw.tar.gz: the file name has a blank: the panel's installer splits its tar command there and cannot unpack it";
        QTest::newRow("x86 post_install") << post2(elf(1, 3)) << "p" << "error: post_install: an x86 program: the panel runs 32-bit ARM programs only";
        QTest::newRow("64-bit ARM") << post2(elf(2, 40)) << "p" << "error: post_install: a 64-bit ARM program: the panel runs 32-bit ARM programs only";
        QTest::newRow("not executable") << post2("#!/bin/sh\n", 0644) << "p" << "error: post_install: not executable (mode 0644): the panel cannot run it";
        QTest::newRow("no #!") << post2("echo hi\n") << "p" << "error: post_install: neither a script starting with #! nor a program: the panel cannot run it";
        QTest::newRow("post_install a directory") << post2({}, 0755, '5') << "p" << "error: post_install: not a regular file: the panel cannot run it";
        QTest::newRow("pre_install missing") << gzip(tarOf({ post })) << "p" << "error: pre_install: missing at the top level: the panel's installer fails and the panel reboots";
        QTest::newRow("./pre_install") << gzip(tarOf({ { "./pre_install", '0', 0755, "#!/bin/sh\n", {} }, post })) << "p" << "warning: ./pre_install: stored as ./pre_install: the installer asks tar for pre_install and will not find it";
        QTest::newRow("../ path") << with({ { "lib/../../etc/x", '0', 0644, "x", {} } }) << "p" << "error: lib/../../etc/x: \"..\" in the path: it would be written outside the application directory";
        QTest::newRow("absolute path") << with({ { "/etc/x", '0', 0644, "x", {} } }) << "p" << "error: /etc/x: absolute path: it would be written outside the application directory";
        QTest::newRow("device node") << with({ { "dev/null", '3', 0666, {}, {} } }) << "p" << "error: dev/null: device node: a package must not create devices";
        QTest::newRow("fifo") << with({ { "pipe", '6', 0644, {}, {} } }) << "p" << "error: pipe: FIFO: a package must not create named pipes";
        QTest::newRow("link outside") << with({ { "lib/l", '2', 0777, {}, "../../etc" } }) << "p" << "error: lib/l: symbolic link to ../../etc points outside the application directory";
        QTest::newRow("absolute link") << with({ { "l", '2', 0777, {}, "/etc/passwd" } }) << "p" << "error: l: symbolic link to /etc/passwd points outside the application directory";
        QTest::newRow("link inside") << with({ { "lib/l", '2', 0777, {}, "../pre_install" } }) << "p" << "";
        QTest::newRow("hard link outside") << with({ { "h", '1', 0644, {}, "../x" } }) << "p" << "error: h: hard link to ../x points outside the application directory";
        QTest::newRow("configuration file") << with({ { "sys_conf.txt", '0', 0644, "BLK<050>\n", {} } }) << "p" << "warning: sys_conf.txt: overwrites the panel's configuration file sys_conf.txt and the settings in it";
        QTest::newRow("10,000-character path") << with({ { QByteArray(10000, 'a'), '0', 0644, "x", {} } }) << "p" << "error: " + QString(60, 'a') + "...: path of 10000 bytes: the panel takes at most 4095";
        QList<Entry> bomb;
        for (int i = 0; i < 10001; ++i)
            bomb.append({ "f" + QByteArray::number(i), '0', 0644, {}, {} });
        QTest::newRow("tar bomb") << with(bomb) << "p" << "error: more than 10000 entries: not an upgrade package (a tar bomb?)";
    }

    void findings()
    {
        QFETCH(QByteArray, package);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QStringList lines;
        for (const PackageFinding &f : checkPackageData(package, name, nullptr))
            lines << describe(f);
        QVERIFY2(expected.isEmpty() ? lines.isEmpty() : lines.contains(expected), qPrintable(lines.join('\n')));
    }

    void freeFlash()
    {
        const PackageSummary s{ 2048, 8192, 0 };
        QVERIFY(checkFreeFlash(s, 10, "p").isEmpty());
        QCOMPARE(describe(checkFreeFlash(s, 9, "p").value(0)),
                 QString("error: p: needs 10 KiB on the panel (2 KiB packed, 8 KiB unpacked) but it has 9 KiB free"));
    }
};

QTEST_GUILESS_MAIN(tst_station)
#include "tst_station.moc"
