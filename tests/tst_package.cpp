// In process: the check of packages crafted entry by entry with a small tar
// writer of its own, so that device nodes, absolute paths and foreign
// programs need neither root nor binaries.

#include "package.h"

#include <QtTest>

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
        int sum = 0;
        for (char c : h)
            sum += static_cast<unsigned char>(c);
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

class tst_package : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_GUILESS_MAIN(tst_package)
#include "tst_package.moc"
