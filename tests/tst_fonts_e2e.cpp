// End to end: real fonts in the simulated panel's fonts directory, asked for
// and removed over the link.

#include "panelsession.h"

#include <QtTest>

class tst_fonts_e2e : public QObject
{
    Q_OBJECT

private slots:
    void familiesAndRemoval();
};

void tst_fonts_e2e::familiesAndRemoval()
{
    const QString dejavu = QStringLiteral("/usr/share/fonts/truetype/dejavu/");
    PanelSession s;
    s.sysroot.populate();
    s.sysroot.makeAppDir("fonts");
    for (const char *name : { "DejaVuSans.ttf", "DejaVuSans-Bold.ttf" })
        QVERIFY2(QFile::copy(dejavu + name, s.sysroot.appPath(QStringLiteral("fonts/") + name)), name);
    s.sysroot.writeAppFile("fonts/notes.txt", "not a font");
    QVERIFY(s.start());

    const QByteArray families = s.command("#GFFS#");
    QVERIFY2(families.startsWith("#GFFS#<GFFS_U0:DejaVu Sans><GFFS_"), families.constData());
    QVERIFY(families.endsWith("<GFFS_END>\n\r"));
    // The other families are the system's, sorted, without the user family.
    QRegularExpression systemTag("<GFFS_S(\\d+):([^>]*)>");
    QStringList system;
    for (auto it = systemTag.globalMatch(QString::fromUtf8(families)); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QCOMPARE(m.captured(1).toInt(), system.size());
        system << m.captured(2);
    }
    QStringList sorted = system;
    sorted.sort();
    QCOMPARE(system, sorted);
    QVERIFY(!system.contains("DejaVu Sans"));
    QVERIFY(!families.contains("<GFFS_U1:"));

    QCOMPARE(s.command("#RMFS<0><DejaVu Sans>#"), QByteArray("#RMFS<0><DejaVu Sans>#<RMFS_ACK>\n\r"));
    QVERIFY(s.waitForLine("RMFS 0 DejaVu Sans"));
    QCOMPARE(s.sysroot.readAppFile("fonts/removal"), QByteArray("DejaVuSans-Bold.ttf\nDejaVuSans.ttf"));
    QCOMPARE(s.command("#RMFS<2><Sans>#"), QByteArray("#RMFS<2><Sans>#<RMFS_NAK>\n\r"));
    QCOMPARE(s.command("#RMFS<1><END>#"), QByteArray("#RMFS<1><END>#<RMFS_ACK>\n\r"));
    QCOMPARE(s.sysroot.readAppFile("fonts/removal"), QByteArray("DejaVuSans-Bold.ttf\nDejaVuSans.ttf"));
    // Nothing is deleted here: the list is all.
    QVERIFY(s.sysroot.appExists("fonts/DejaVuSans.ttf"));
}

QTEST_GUILESS_MAIN(tst_fonts_e2e)
#include "tst_fonts_e2e.moc"
