// Soak, end to end: 200 uploads each downloaded again, then 100,000 command
// frames, on one simulated panel. Afterwards the panel holds no more open
// descriptors than before and its resident memory has not grown beyond a
// small allowance; every transfer arrived intact and every frame was answered.

#include "xmodemsender.h"

#include "xmodem.h"

#include <QtTest>

static const char ACK = xmodem::ACK, EOT = xmodem::EOT, STX = xmodem::STX;

// Resident memory may move by a few pages as the allocator settles; a leak of
// a few hundred bytes per frame would exceed this by far. AddressSanitizer's
// allocator takes longer to settle.
#if defined(__SANITIZE_ADDRESS__)
static const qint64 residentAllowanceKb = 4096;
#else
static const qint64 residentAllowanceKb = 512;
#endif

static QByteArray pattern(int size, int seed)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 29 + seed * 11 + i / 251) & 0xFF);
    return data;
}

// The panel process as seen from outside: its open descriptors and its
// resident memory in kB.
struct Usage {
    int descriptors = -1;
    qint64 residentKb = -1;
    QString text() const { return QString("%1 descriptors, VmRSS %2 kB").arg(descriptors).arg(residentKb); }
};

static Usage usageOf(qint64 pid)
{
    Usage u;
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    u.descriptors = QDir(proc + "fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    QFile status(proc + "status");
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                u.residentKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return u;
}

// Uploads with LOAD; the panel's first 'C' ends the reply to the frame.
static bool upload(PanelSession &s, const QByteArray &name, const QByteArray &data)
{
    if (!s.command("#LOAD<" + name + ">" + QByteArray::number(data.size()) + "#").endsWith("C\n\r"))
        return false;
    for (int i = 0; i * xmodem::DataSize < data.size(); ++i) {
        s.send(XmodemSender::packet(static_cast<unsigned int>(i + 1), data.mid(i * xmodem::DataSize, xmodem::DataSize)));
        if (s.readExactly(1, 3000) != QByteArray(1, ACK))
            return false;
    }
    s.send(QByteArray(1, EOT));
    return s.readExactly(1, 3000) == QByteArray(1, ACK);
}

// Downloads with GETF. The panel listens 400 ms after its size reply; an
// earlier 'C' is echoed as console input and the host asks again.
static QByteArray download(PanelSession &s, const QByteArray &name, int size)
{
    if (!s.command("#GETF<" + name + ">#").endsWith("<GETF:" + QByteArray::number(size) + ">\n\r"))
        return QByteArray();
    if (!s.readFor(400).isEmpty())
        return QByteArray();
    QByteArray head;
    for (int tries = 0; tries < 50 && (head.isEmpty() || head == "C"); ++tries) {
        if (!head.isEmpty() && !s.readFor(20).isEmpty())
            return QByteArray();
        s.send("C");
        head = s.readExactly(1, 1000);
    }
    QByteArray data;
    for (unsigned int block = 1; head == QByteArray(1, STX); block = (block + 1) & 0xFF) {
        const QByteArray packet = head + s.readExactly(xmodem::PacketSize - 1, 3000);
        const auto *bytes = reinterpret_cast<const unsigned char *>(packet.constData());
        if (packet.size() != xmodem::PacketSize || xmodem::checkPacket(bytes) != xmodem::Check::Good
            || bytes[1] != block)
            return QByteArray();
        data += packet.mid(3, xmodem::DataSize);
        s.send(QByteArray(1, ACK));
        head = s.readExactly(1, 3000);
    }
    return head == QByteArray(1, EOT) && data.size() >= size ? data.left(size) : QByteArray();
}

// The frames of the soak with the reply each must bring (empty: only the
// line end). Frames that save to the disk come once in a thousand.
struct Frame {
    QByteArray frame;
    QByteArray reply;
};
static const QVector<Frame> everyday{
    { "#HWCF#", "<SER_NO:" }, { "#SLTZ#", "<LOTIZO:" }, { "#MODE<0>#", "<MODE_ACK>" },
    { "#SNAM<soak>#", "<SNAM:NOR>" }, { "#DIGC<3><OUT><HI>#", "" }, { "#PWMC<1><0>#", "" },
    { "#ALMC<2><LO>#", "" }, { "#DORI<0>#", "" }, { "#DRPN<1>#", "" }, { "#FINF<123456>#", "" },
    { "#SINF#", "" }, { "#CPUI#", "<CPUI:" }, { "#GFFS#", "<GFFS" }, { "#GPFL#", "<GPFL" },
    { "#hwcf#", "" }, { "#BKLT<55>#", "" }, { "#RMFS<1><Soak Sans>#", "<RMFS_" },
};
static const QVector<Frame> saving{ { "#CHBT<1>#", "<CHBT:NOR>" }, { "#SVCF#", "<SVCF:NOR>" },
                                    { "#DTIM<2024-02-29 13:05:07:250 60>#", "<DTIM:NOR>" } };

static const Frame &frameAt(int i)
{
    return i % 1000 == 999 ? saving.at(i / 1000 % saving.size()) : everyday.at(i % everyday.size());
}

class tst_soak_e2e : public QObject
{
    Q_OBJECT

private:
    // Sends frames [from, to) in batches; each batch ends with a frame whose
    // echo shows that all before it were handled. Counts the frames whose
    // reply came, and returns false on a lost batch.
    bool runFrames(PanelSession &s, int from, int to, int *answered)
    {
        const int batch = 100;
        for (int first = from; first < to; first += batch) {
            QByteArray bytes;
            QVector<int> members;
            for (int i = first; i < qMin(first + batch, to); ++i) {
                bytes += frameAt(i).frame;
                members << i;
            }
            const QByteArray mark = "#SINF<" + QByteArray::number(first) + ">#\n\r";
            s.send(bytes + mark.left(mark.size() - 2));
            QByteArray got = s.readUntil(mark, 20000);
            if (got.isEmpty())
                return false;
            // The answers come in the order of the frames.
            for (int i : members) {
                const Frame &f = frameAt(i);
                const int at = got.indexOf(f.frame);
                const int end = got.indexOf("\n\r", at);
                if (at < 0 || end < 0)
                    continue;
                if (got.mid(at + f.frame.size(), end - at - f.frame.size()).startsWith(f.reply))
                    ++*answered;
                got.remove(0, end + 2);
            }
        }
        return true;
    }

private slots:
    void resourcesStayFlat();
};

void tst_soak_e2e::resourcesStayFlat()
{
    PanelSession s;
    s.sysroot.populate();
    s.sysroot.makeAppDir("tmp");
    s.sysroot.makeAppDir("fonts");
    // In a build with AddressSanitizer, freed memory waits in a quarantine
    // of up to 256 MB before it is reused, which would read as growth.
    QByteArray sanitizer = qgetenv("ASAN_OPTIONS");
    QVERIFY(s.start(true, { "ASAN_OPTIONS=" + sanitizer + (sanitizer.isEmpty() ? "" : ":") + "quarantine_size_mb=0" }));
    const qint64 pid = s.process.processId();
    QElapsedTimer clock;
    clock.start();

    // Transfers of sizes around the packet boundaries, each read back.
    const int sizes[] = { 1, 1023, 1024, 1025, 3000, 5000 };
    int intact = 0;
    auto roundTrips = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            const int size = sizes[i % 6];
            const QByteArray data = pattern(size, i);
            const QByteArray name = "soak" + QByteArray::number(i % 7) + ".bin";
            if (upload(s, name, data) && s.sysroot.readAppFile("tmp/" + name) == data
                && download(s, "tmp/" + name, size) == data)
                ++intact;
        }
    };
    // Warm up: every path, the three saving frames included, has run once
    // before the first measurement.
    const int warmUpFrames = 3000;
    int answered = 0;
    roundTrips(0, 6);
    QVERIFY(runFrames(s, 0, warmUpFrames, &answered));
    const Usage before = usageOf(pid);
    QVERIFY(before.descriptors > 0 && before.residentKb > 0);

    const int transfers = 200;
    roundTrips(6, 6 + transfers);
    const Usage afterTransfers = usageOf(pid);
    const qint64 transferMs = clock.restart();
    QCOMPARE(intact, 6 + transfers);

    const int frames = 100000;
    answered = 0;
    QVERIFY(runFrames(s, warmUpFrames, warmUpFrames + frames, &answered));
    const Usage afterFrames = usageOf(pid);
    const qint64 frameMs = clock.elapsed();
    QCOMPARE(answered, frames);
    QCOMPARE(s.process.state(), QProcess::Running);

    qInfo("soak: before: %s", qPrintable(before.text()));
    qInfo("soak: after %d uploads and downloads (%lld s): %s", transfers, transferMs / 1000,
          qPrintable(afterTransfers.text()));
    qInfo("soak: after %d frames (%lld s): %s", frames, frameMs / 1000, qPrintable(afterFrames.text()));

    QCOMPARE(afterTransfers.descriptors, before.descriptors);
    QCOMPARE(afterFrames.descriptors, before.descriptors);
    QVERIFY2(afterTransfers.residentKb - before.residentKb <= residentAllowanceKb, qPrintable(afterTransfers.text()));
    QVERIFY2(afterFrames.residentKb - before.residentKb <= residentAllowanceKb, qPrintable(afterFrames.text()));
}

QTEST_GUILESS_MAIN(tst_soak_e2e)
#include "tst_soak_e2e.moc"
