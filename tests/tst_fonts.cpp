// In process: font family report, font file lookups, the removal list and the
// project list, on a console whose link is a pseudo-terminal. The removal
// list and the project list live beside the executable, so their fixtures are
// made next to this test program and removed again.

#include "hdw_config.h"
#include "panelsession.h"
#include "usb_console.h"

#include <QLabel>
#include <QProgressBar>
#include <QtTest>
#include <sys/stat.h>

class ConsoleProbe
{
public:
    static QStringList removeList(const USB_console &c) { return c.removeList; }
    static void forgetRemovals(USB_console &c) { c.removeList.clear(); }
};

class tst_fonts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void fileName_data();
    void fileName();
    void familyReport_data();
    void familyReport();
    void removalList_data();
    void removalList();
    void projectList_data();
    void projectList();

private:
    QByteArray reply(const QByteArray &end);
    QString besideApp(const QString &relative) const
    {
        return QCoreApplication::applicationDirPath() + '/' + relative;
    }

    TestSysroot sysroot;
    PtyLink link;
    HDW_config *hw = nullptr;
    USB_console *console = nullptr;
};

void tst_fonts::initTestCase()
{
    sysroot.populate();
    sysroot.activate();
    QVERIFY(link.open());
    QVERIFY(link.linkAs(sysroot.path("dev/ttyGS0")));
    hw = new HDW_config;
    console = new USB_console(nullptr, hw);
    cleanup();
}

void tst_fonts::cleanupTestCase()
{
    // The window owns the status widgets on the panel.
    delete console->messageLabel;
    delete console->statusLabel;
    delete console->progressBar;
    delete console;
    delete hw;
}

void tst_fonts::cleanup()
{
    QDir(besideApp("fonts")).removeRecursively();
    QDir(besideApp("qml")).removeRecursively();
    qApp->setProperty("userFonts", QVariant());
    qApp->setProperty("systemFonts", QVariant());
    link.buffer().clear();
    if (console)
        ConsoleProbe::forgetRemovals(*console);
}

QByteArray tst_fonts::reply(const QByteArray &end)
{
    for (int i = 0; i < 50 && !link.buffer().endsWith(end); ++i)
        link.fill(20);
    const QByteArray got = link.buffer();
    link.buffer().clear();
    return got;
}

void tst_fonts::fileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("backslashes") << "C:\\fonts\\Arial.ttf" << "Arial.ttf";
    QTest::newRow("trailing separator") << "/usr/share/fonts/" << "fonts";
    QTest::newRow("separators and blanks at the end") << "fonts\\ / " << "fonts";
    QTest::newRow("bare name, blanks trimmed") << "  Sans.ttf \t" << "Sans.ttf";
    QTest::newRow("blank inside kept") << "/f/My Font.otf" << "My Font.otf";
    QTest::newRow("root") << "/" << "";
    QTest::newRow("only separators and blanks") << " / \\ /" << "";
    QTest::newRow("empty") << "" << "";
}

void tst_fonts::fileName()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(console->getNameFromPath(path), name);
}

void tst_fonts::familyReport_data()
{
    QTest::addColumn<QVariant>("user");
    QTest::addColumn<QVariant>("system");
    QTest::addColumn<QByteArray>("expected");
    const QVariantMap twoFamilies{ { "Beta", QStringList{ "/f/b.ttf" } },
                                   { "Alpha Sans", QStringList{ "/f/a.ttf" } } };
    QTest::newRow("user then system") << QVariant(twoFamilies) << QVariant(QStringList{ "Sans" })
                                      << QByteArray("<GFFS_U0:Alpha Sans><GFFS_U1:Beta><GFFS_S0:Sans><GFFS_END>");
    QTest::newRow("none published") << QVariant() << QVariant() << QByteArray("<GFFS_END>");
    QTest::newRow("user fonts not a map")
        << QVariant(QStringList{ "Beta" }) << QVariant(QStringList{ "Zed", "Abc" })
        << QByteArray("<GFFS_S0:Zed><GFFS_S1:Abc><GFFS_END>");
    QTest::newRow("case-sensitive key order, UTF-8")
        << QVariant(QVariantHash{ { "beta", QStringList() }, { "Zeta", QStringList() },
                                  { QString::fromUtf8("Ärger"), QStringList() } })
        << QVariant() << QByteArray("<GFFS_U0:Zeta><GFFS_U1:beta><GFFS_U2:\xc3\x84rger><GFFS_END>");
}

// One console serves every row: the properties are read at each call.
void tst_fonts::familyReport()
{
    QFETCH(QVariant, user);
    QFETCH(QVariant, system);
    QFETCH(QByteArray, expected);
    qApp->setProperty("userFonts", user);
    qApp->setProperty("systemFonts", system);
    console->reportFontFamilies();
    QCOMPARE(reply("<GFFS_END>"), expected);
}

void tst_fonts::removalList_data()
{
    QTest::addColumn<QStringList>("steps"); // "index:text"
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<QByteArray>("before"); // null: no list file beforehand
    QTest::addColumn<QByteArray>("after");  // null: no list file afterwards
    QTest::addColumn<QStringList>("families");
    const QByteArray ack("<RMFS_ACK>"), nak("<RMFS_NAK>");
    const QByteArray alphaBeta("Alpha-Bold.ttf\nAlpha.ttf\nZed.ttf\nbeta.otf");
    const QByteArray alpha("Alpha-Bold.ttf\nAlpha.ttf\nZed.ttf");
    QTest::newRow("0 then 1") << QStringList{ "0:Alpha", "1:Beta" } << ack + ack << QByteArray() << alphaBeta
                              << QStringList{ "Alpha", "Beta" };
    QTest::newRow("END closes a sequence") << QStringList{ "0:Alpha", "1:Beta", "2:END" } << ack + ack + ack
                                           << QByteArray() << alphaBeta << QStringList{ "Alpha", "Beta" };
    QTest::newRow("2 out of sequence") << QStringList{ "0:Alpha", "2:Beta" } << ack + nak << QByteArray() << alpha
                                       << QStringList{ "Alpha" };
    QTest::newRow("index repeated") << QStringList{ "0:Alpha", "1:Beta", "1:Gamma" } << ack + ack + nak
                                    << QByteArray() << alphaBeta << QStringList{ "Alpha", "Beta" };
    QTest::newRow("1 before 0") << QStringList{ "1:Alpha" } << nak << QByteArray() << QByteArray() << QStringList();
    QTest::newRow("0 with END") << QStringList{ "0:Alpha", "0:END" } << ack + ack << QByteArray("old") << alpha
                                << QStringList();
    QTest::newRow("new sequence replaces") << QStringList{ "0:Alpha", "1:Beta", "0:Gamma" } << ack + ack + ack
                                           << QByteArray() << QByteArray("Gamma.ttf\nShared.ttf")
                                           << QStringList{ "Gamma" };
    QTest::newRow("shared file once") << QStringList{ "0:Gamma", "1:Delta" } << ack + ack << QByteArray()
                                      << QByteArray("Gamma.ttf\nShared.ttf") << QStringList{ "Gamma", "Delta" };
    QTest::newRow("invalid index keeps list") << QStringList{ "0:Alpha", "-1:Beta" } << ack + ack << QByteArray()
                                              << alpha << QStringList{ "Alpha" };
    QTest::newRow("unknown and case-differing family")
        << QStringList{ "0:Nobody", "1:alpha" } << ack + ack << QByteArray("old") << QByteArray("old")
        << QStringList{ "Nobody", "alpha" };
    QTest::newRow("names that are no file are dropped")
        << QStringList{ "0:Odd" } << ack << QByteArray() << QByteArray("Odd.ttf\n\xc3\x84rger.ttf")
        << QStringList{ "Odd" };
    QTest::newRow("no fonts directory") << QStringList{ "0:Alpha" } << ack << QByteArray("NODIR") << QByteArray()
                                        << QStringList{ "Alpha" };
    QTest::newRow("list file not writable") << QStringList{ "0:Alpha" } << ack << QByteArray("DIR") << QByteArray()
                                            << QStringList{ "Alpha" };
}

void tst_fonts::removalList()
{
    QFETCH(QStringList, steps);
    QFETCH(QByteArray, replies);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QStringList, families);
    qApp->setProperty("userFonts",
                      QVariantMap{ { "Alpha", QStringList{ "/x/fonts/Alpha.ttf", "/x/fonts/Zed.ttf ",
                                                           "/x/fonts/Alpha-Bold.ttf" } },
                                   { "Beta", QStringList{ "C:\\fonts\\beta.otf" } },
                                   { "Gamma", QStringList{ "/f/Shared.ttf", "/f/Gamma.ttf" } },
                                   { "Delta", QStringList{ "/g/Shared.ttf" } },
                                   { "Odd", QStringList{ "/", "/f/..", "/f/a\nb.ttf", "/f/Odd.ttf",
                                                         QString::fromUtf8("/f/Ärger.ttf") } } });
    const QString file = besideApp("fonts/removal");
    if (before != "NODIR")
        QVERIFY(QDir().mkpath(besideApp("fonts")));
    if (before == "DIR")
        QVERIFY(QDir().mkpath(file));
    else if (!before.isNull() && before != "NODIR") {
        QFile old(file);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(before);
    }

    for (const QString &step : steps) {
        QByteArray text = step.section(':', 1).toUtf8();
        console->processRemoveStringList(step.section(':', 0, 0).toInt(), text.data());
    }
    QCOMPARE(reply(replies.right(10)), replies);
    QCOMPARE(ConsoleProbe::removeList(*console), families);
    QFile list(file);
    if (after.isNull()) {
        QVERIFY(!QFileInfo(file).isFile());
        QCOMPARE(QFileInfo::exists(besideApp("fonts")), before != "NODIR");
    } else {
        QVERIFY(list.open(QIODevice::ReadOnly));
        QCOMPARE(list.readAll(), after);
    }
    QCOMPARE(console->deleteFontFiles(), before != "NODIR" && before != "DIR");
}

void tst_fonts::projectList_data()
{
    QTest::addColumn<QStringList>("entries"); // "dir/", "@link" to main.qml, "|fifo", else a file
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("case-insensitive order")
        << QStringList{ "main.qml", "Alarm.qml" } << QByteArray("<GPFL_0:9:Alarm.qml><GPFL_1:8:main.qml><GPFL_END>");
    QTest::newRow("files only, counted in characters")
        << QStringList{ "main.qml", "Alarm.qml", "logo.png", "screens/", "@link.qml", ".hidden", "|pipe",
                        QString::fromUtf8("Übersicht.qml") }
        << QByteArray("<GPFL_0:9:Alarm.qml><GPFL_1:8:logo.png><GPFL_2:8:main.qml>"
                      "<GPFL_3:13:\xc3\x9c" "bersicht.qml><GPFL_END>");
    QTest::newRow("lower-case forms compared") << QStringList{ "B.qml", "_a.qml", "a.qml" }
                                               << QByteArray("<GPFL_0:6:_a.qml><GPFL_1:5:a.qml><GPFL_2:5:B.qml><GPFL_END>");
    QTest::newRow("empty directory") << QStringList{ "" } << QByteArray("<GPFL_END>");
    QTest::newRow("no project directory") << QStringList() << QByteArray("<GPFL_END>");
}

void tst_fonts::projectList()
{
    QFETCH(QStringList, entries);
    QFETCH(QByteArray, expected);
    const QString dir = besideApp("qml/project/");
    if (!entries.isEmpty())
        QVERIFY(QDir().mkpath(dir));
    for (const QString &e : entries) {
        if (e.isEmpty())
            continue;
        if (e.endsWith('/'))
            QVERIFY(QDir().mkpath(dir + e));
        else if (e.startsWith('@'))
            QVERIFY(QFile::link(dir + "main.qml", dir + e.mid(1)));
        else if (e.startsWith('|'))
            QCOMPARE(mkfifo(QFile::encodeName(dir + e.mid(1)).constData(), 0600), 0);
        else {
            QFile f(dir + e);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
    }
    console->messageLabel->clear();
    console->reportProjectFileList();
    QCOMPARE(reply("<GPFL_END>"), expected);
    QCOMPARE(console->messageLabel->text(), QStringLiteral("Sending..."));
}

QTEST_MAIN(tst_fonts)
#include "tst_fonts.moc"
