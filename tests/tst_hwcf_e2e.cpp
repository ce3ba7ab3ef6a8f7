// The hardware configuration report end to end: the simulated panel's files
// and devices, the host's frame, the 24 tags and the line end.

#include "panelsession.h"

#include <QRegularExpression>
#include <QtTest>
#include <sys/statvfs.h>

// The flash figures of the live file system: the total must match statvfs,
// the free space only roughly (the machine is shared). They then replace
// {T} and {F} in the expected report.
static QString fillFlash(const QByteArray &report, const QString &root, QByteArray *expected)
{
    const QRegularExpressionMatch m =
        QRegularExpression("<TFLHSZ:(\\d+)><FFLHSZ:(\\d+)>").match(QString::fromLatin1(report));
    struct statvfs fs;
    if (!m.hasMatch() || statvfs(QFile::encodeName(root).constData(), &fs) != 0)
        return QStringLiteral("no flash figures");
    const quint32 k = static_cast<quint32>(fs.f_bsize / 1024);
    if (m.captured(1).toUInt() != static_cast<quint32>(fs.f_blocks) * k
        || qAbs(m.captured(2).toLongLong() - qint64(static_cast<quint32>(fs.f_bfree) * k)) > 256 * 1024)
        return QStringLiteral("flash figures off");
    expected->replace("{T}", m.captured(1).toLatin1()).replace("{F}", m.captured(2).toLatin1());
    return QString();
}

class tst_hwcf_e2e : public QObject
{
    Q_OBJECT

private slots:
    void panelReport_data();
    void panelReport();
};

void tst_hwcf_e2e::panelReport_data()
{
    QTest::addColumn<QByteArray>("nameFile");
    QTest::addColumn<bool>("frameBuffer");
    QTest::addColumn<QByteArray>("middle");  // DEVNAM to LCDBBP
    // A stored "%1" is sent as it is; UTF-8 outside Latin-1 becomes '?'.
    QTest::newRow("named") << QByteArray("NAM<%1 100% Z\xc3\xbc \xe2\x98\x85>\n") << true
                           << QByteArray("<DEVNAM:%1 100% Z\xfc ?><ADCCHN:0><LCDVER:600><LCDHOR:1024><LCDBBP:16>");
    QTest::newRow("empty name, no frame buffer") << QByteArray("NAM<>\n") << false
                                                 << QByteArray("<DEVNAM:><ADCCHN:0><LCDVER:0><LCDHOR:0><LCDBBP:0>");
}

// The simulated panel answers "#HWCF#" from its files and devices.
void tst_hwcf_e2e::panelReport()
{
    QFETCH(QByteArray, nameFile);
    QFETCH(bool, frameBuffer);
    QFETCH(QByteArray, middle);

    PanelSession s;
    s.sysroot.populate();
    if (frameBuffer)
        s.sysroot.writeFile("dev/fb0", "1024 600 16\n");
    else
        QFile::remove(s.sysroot.path("dev/fb0"));
    s.sysroot.writeFile("proc/meminfo", "MemTotal: 498000 kB\nMemFree: 120000 kB\nBuffers: 8000 kB\n"
                                        "Cached: 90000 kB\n");
    s.sysroot.writeAppFile("version.txt", "FMW<4.1.0.7>\nAPP<2.3.1>\n");
    s.sysroot.writeAppFile("device_name.txt", nameFile);
    s.sysroot.writeAppFile("sys_conf.txt", "BLK<070>\n");
    s.sysroot.writeAppFile("timezone.cfg", "-300");
    QVERIFY(s.start());

    QByteArray expected = "#HWCF#<SER_NO:0214000510000001><MODELS:MVK 200><FIRMWD:4.1.0.7><DEVAPP:2.3.1>"
                          "<DESAPP:2.0.0.2552>" + middle + "<ALM_CH:2><PWM_CH:4><DIO_CH:16><TRAMSZ:498000>"
                          "<FRAMSZ:218000><TFLHSZ:{T}><FFLHSZ:{F}><PHYADD:00:00:00:00:00:00><BKLT:70><RTRPW:>"
                          "<UPDPW:><REPORT:0><LOTIZO:-300><HWCFEND>\n\r";
    const QByteArray reply = s.command("#HWCF#");
    const QString why = fillFlash(reply, s.sysroot.root(), &expected);
    QVERIFY2(why.isEmpty(), qPrintable(why + ": " + reply));
    QCOMPARE(reply, expected);
    QVERIFY(s.waitForLine("CXM: HWCF", 2000));

    // The zone the host sets is the one reported next.
    QCOMPARE(s.command("#DTIM<2024-02-29 13:05:07:250 60>#"),
             QByteArray("#DTIM<2024-02-29 13:05:07:250 60>#<DTIM:NOR>\n\r"));
    QCOMPARE(s.command("#SLTZ#"), QByteArray("#SLTZ#<LOTIZO:  60>\n\r"));
}

QTEST_GUILESS_MAIN(tst_hwcf_e2e)
#include "tst_hwcf_e2e.moc"
