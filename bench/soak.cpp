// Soak (run by hand, not in CI), end to end: after 200 uploads each downloaded again, then 100,000 command frames, the
// simulated panel holds no more open descriptors and no more resident memory (but a small allowance); every transfer
// and frame succeeded.

#include "panelsession.h"
#include "stdoutcapture.h"

#include "xmodem.h"

#include <QtTest>

// A leak of a few hundred bytes per frame would exceed this by far; AddressSanitizer's allocator settles more slowly.
#if defined(__SANITIZE_ADDRESS__)
static const qint64 residentAllowanceKb = 4096;
#else
static const qint64 residentAllowanceKb = 512;
#endif

// The panel's open descriptors and resident memory in kB, seen from outside.
static QPair<int, qint64> usageOf(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    const QString rss = QRegularExpression("VmRSS:\\s*(\\d+)").match(QString::fromLatin1(status.readAll())).captured(1);
    return { QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                 .size(),
             rss.toLongLong() };
}

// Uploads a file of a size around the packet boundaries with LOAD, then downloads it back with GETF.
static bool roundTrip(PanelSession &s, int n)
{
    QByteArray data(QVector<int> { 1, 1023, 1024, 1025, 3000, 5000 }.at(n % 6), '\0'),
        name = "soak" + QByteArray::number(n % 7) + ".bin";
    for (int j = 0; j < data.size(); ++j)
        data[j] = static_cast<char>(j * 29 + n * 11 + j / 251);
    return upload(s.link, name, data) && s.sysroot.readAppFile("tmp/" + name) == data
        && download(s.link, "tmp/" + name, data);
}

// Each frame and the start of the reply it must bring (up to its last '#'); those that save come once in a thousand.
static const QByteArrayList everyday { "#HWCF#<SER_NO:",
                                       "#SLTZ#<LOTIZO:",
                                       "#MODE<0>#<MODE_ACK>",
                                       "#SNAM<soak>#<SNAM:NOR>",
                                       "#DIGC<3><OUT><HI>#",
                                       "#PWMC<1><0>#",
                                       "#ALMC<2><LO>#",
                                       "#DORI<0>#",
                                       "#DRPN<1>#",
                                       "#FINF<123456>#",
                                       "#SINF#",
                                       "#CPUI#<CPUI:",
                                       "#GFFS#<GFFS",
                                       "#GPFL#<GPFL",
                                       "#hwcf#",
                                       "#BKLT<55>#",
                                       "#RMFS<1><Soak Sans>#<RMFS_" };
static const QByteArrayList saving { "#CHBT<1>#<CHBT:NOR>", "#SVCF#<SVCF:NOR>",
                                     "#DTIM<2024-02-29 13:05:07:250 60>#<DTIM:NOR>" };

// Sends frames [from, to) in batches, each closed by a frame whose echo shows all before it handled; counts the
// replies.
static int runFrames(PanelSession &s, int from, int to)
{
    const auto expected = [](int i) {
        return i % 1000 == 999 ? saving.at(i / 1000 % saving.size()) : everyday.at(i % everyday.size());
    };
    int answered = 0;
    QByteArray got = "started";
    for (int first = from; first < to && !got.isEmpty(); first += 100) {
        QByteArray bytes, mark = "#SINF<" + QByteArray::number(first) + ">#";
        for (int i = first; i < qMin(first + 100, to); ++i)
            bytes += expected(i).left(expected(i).lastIndexOf('#') + 1);
        s.send(bytes + mark);
        got = s.link.readUntil(mark + "\n\r", 20000); // empty when the batch was lost
        for (int i = first; i < qMin(first + 100, to); ++i) {
            const int end = got.indexOf("\n\r");
            answered += got.left(end).startsWith(expected(i));
            got.remove(0, end + 2);
        }
    }
    return answered;
}

class soak : public QObject
{
    Q_OBJECT

private slots:
    void resourcesStayFlat()
    {
        PanelSession s;
        s.sysroot.makeAppDir("tmp");
        s.sysroot.makeAppDir("fonts");
        // With AddressSanitizer, freed memory waits in a quarantine of up to 256 MB, which would read as growth.
        QVERIFY(s.start(true, { "ASAN_OPTIONS=" + qgetenv("ASAN_OPTIONS") + ":quarantine_size_mb=0" }));
        int intact = 0;
        const auto roundTrips = [&](int from, int to) {
            for (int i = from; i < to; ++i)
                intact += roundTrip(s, i);
        };
        // Warm up: every path, the saving frames included, runs once before the first measurement.
        roundTrips(0, 6);
        QCOMPARE(runFrames(s, 0, 3000), 3000);
        QVector<QPair<int, qint64>> usage;
        const auto measure = [&](const char *stage) { // the figures of the README's Reliability section
            usage << usageOf(s.process.processId());
            qInfo("soak: %s: %d descriptors, VmRSS %lld kB", stage, usage.last().first, usage.last().second);
        };
        measure("before");
        roundTrips(6, 206);
        measure("after 200 uploads and downloads");
        QCOMPARE(intact, 206);
        QCOMPARE(runFrames(s, 3000, 103000), 100000);
        measure("after 100000 frames");
        QVERIFY(usage[0].first > 0 && usage[0].second > 0);
        for (const auto &u : usage)
            QVERIFY2(u.first == usage[0].first && u.second - usage[0].second <= residentAllowanceKb,
                     qPrintable(QString("%1 descriptors, %2 kB").arg(u.first).arg(u.second)));
    }
};

QTEST_GUILESS_MAIN(soak)
#include "soak.moc"
