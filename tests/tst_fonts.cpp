// In process: the font family report, the removal list and the project list. The fixtures lie beside
// this test program, where the console looks for them.

#include "console_probe.h"
#include "panelsession.h"

#include <QtTest>

// Steps GFFS, GPFL or RMFS "index:text", with the font properties and the files a shell makes
// beforehand; the replies, and what the removal list file then holds (null: no file).
struct Exchange { QVariant user, system; QString files; QString steps; QByteArray replies, removal; };
Q_DECLARE_METATYPE(Exchange)

static QString besideApp(const QString &relative) { return QCoreApplication::applicationDirPath() + '/' + relative; }

class tst_fonts : public QObject
{
    Q_OBJECT
    TestSysroot sysroot;
    PtyLink link;
    std::unique_ptr<PanelConsole> panel;
    USB_console *console = nullptr;

private slots:
    void initTestCase()
    {
        sysroot.activate();
        QVERIFY(link.open() && link.linkAs(sysroot.path("dev/ttyGS0")));
        console = &(panel = std::make_unique<PanelConsole>())->console;
        cleanup();
    }

    void cleanup()
    {
        QDir(besideApp("fonts")).removeRecursively();
        QDir(besideApp("qml")).removeRecursively();
        ConsoleProbe::removeList(*console).clear();
        link.buffer().clear();
        console->messageLabel->clear();
    }

    // The family "Names" has each kind of path once. The properties are read anew at every call.
    void exchange_data()
    {
        QTest::addColumn<Exchange>("x");
        const QVariantMap fonts{
            { "Alpha", QStringList{ "/f/Alpha.ttf", "/f/Zed.ttf ", "/f/Alpha-Bold.ttf" } }, { "Alpha Sans", {} }, { "beta", {} },
            { QString::fromUtf8("Ärger"), {} }, { "Beta", QStringList{ "C:\\f\\beta.otf" } },
            { "Gamma", QStringList{ "/f/Shared.ttf", "/f/Gamma.ttf" } }, { "Delta", QStringList{ "/g/Shared.ttf" } },
            { "Names", QStringList{ "/", " / \\ /", "/f/..", "/f/a\nb.ttf", "/a/fonts/", "fonts2\\ / ", "  Sans.ttf \t",
                                    "/f/My Font.otf", QString::fromUtf8("/f/Ärger.ttf") } } };
        auto row = [&](const char *name, const QString &steps, const QByteArray &replies, const QString &files = {},
                       const QByteArray &removal = {}) {
            QTest::newRow(name) << Exchange{ fonts, QStringList{ "Sans", "Abc" }, files, steps, replies, removal };
        };
        row("user then system, case-sensitive, UTF-8", "GFFS",
            "<GFFS_U0:Alpha><GFFS_U1:Alpha Sans><GFFS_U2:Beta><GFFS_U3:Delta><GFFS_U4:Gamma><GFFS_U5:Names>"
            "<GFFS_U6:beta><GFFS_U7:\xc3\x84rger><GFFS_S0:Sans><GFFS_S1:Abc><GFFS_END>");
        QTest::newRow("none published") << Exchange{ {}, {}, {}, "GFFS", "<GFFS_END>", {} };
        const QByteArray A("<RMFS_ACK>"), N("<RMFS_NAK>"), alpha("Alpha-Bold.ttf\nAlpha.ttf\nZed.ttf");
        const QString dir = "mkdir fonts", old = "mkdir fonts && printf old >fonts/removal";
        row("END closes a sequence", "0:Alpha|1:Beta|2:END|3:Gamma|1:Gamma", A + A + A + N + N, dir, alpha + "\nbeta.otf");
        row("2 out of sequence", "0:Alpha|2:Beta", A + N, dir, alpha);
        row("0 with END empties, file untouched", "0:Alpha|0:END|1:Beta", A + A + N, dir, alpha);
        row("new sequence replaces", "0:Alpha|1:Beta|0:Gamma", A + A + A, dir, "Gamma.ttf\nShared.ttf");
        row("shared file once", "0:Gamma|1:Delta", A + A, dir, "Gamma.ttf\nShared.ttf");
        row("invalid index keeps list", "0:Alpha|-1:Beta", A + A, dir, alpha);
        row("unknown and case-differing family", "0:Nobody|1:alpha", A + A, old, "old");
        row("names, none not a file", "0:Names", A, dir, "My Font.otf\nSans.ttf\nfonts\nfonts2\n\xc3\x84rger.ttf");
        row("no fonts directory", "0:Alpha", A);
        row("list file not writable", "0:Alpha", A, "mkdir -p fonts/removal");
        row("files only, counted in characters, ordered by lower-case forms", "GPFL",
            "<GPFL_0:6:_a.qml><GPFL_1:9:Alarm.qml><GPFL_2:5:B.qml><GPFL_3:8:logo.png><GPFL_4:8:main.qml>"
            "<GPFL_5:13:\xc3\x9c" "bersicht.qml><GPFL_END>",
            QString::fromUtf8("mkdir -p qml/project/screens && cd qml/project && ln -s main.qml link.qml && "
                              "mkfifo pipe && touch main.qml Alarm.qml logo.png .hidden B.qml _a.qml Übersicht.qml"));
        row("no project directory", "GPFL", "<GPFL_END>");
    }

    void exchange()
    {
        QFETCH(Exchange, x);
        qApp->setProperty("userFonts", x.user);
        qApp->setProperty("systemFonts", x.system);
        QCOMPARE(QProcess::execute("sh", { "-c", "cd \"$0\" || exit 1; " + x.files, besideApp(".") }), 0);
        for (const QString &step : x.steps.split('|')) {
            QByteArray text = step.section(':', 1).toUtf8();
            step == "GFFS" ? console->reportFontFamilies() : step == "GPFL" ? console->reportProjectFileList()
                           : console->processRemoveStringList(step.section(':', 0, 0).toInt(), text.data());
        }
        for (int i = 0; i < 50 && !link.buffer().endsWith(x.replies.right(10)); ++i)
            link.fill(20);
        QCOMPARE(link.buffer(), x.replies);
        QCOMPARE(console->messageLabel->text(), QString(x.steps == "GPFL" ? "Sending..." : ""));
        QFile list(besideApp("fonts/removal"));
        QCOMPARE(list.open(QIODevice::ReadOnly) ? list.readAll() : QByteArray(), x.removal);
        QCOMPARE(QFileInfo(list).isFile(), !x.removal.isNull());
        QCOMPARE(QFileInfo::exists(besideApp("fonts")), x.files.contains("fonts")); // never made here
        QCOMPARE(console->deleteFontFiles(), !x.removal.isNull() || !x.steps.contains(':'));
    }
};

QTEST_MAIN(tst_fonts)
#include "tst_fonts.moc"
