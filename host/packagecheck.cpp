// Checking an upgrade package before it leaves the PC. The archive is read
// here header by header rather than through an archive library's tree,
// because the faults to find (absolute paths, "..", device nodes, where a
// link points, an entry stored as ./pre_install) are exactly what such a
// tree normalises away.

#include "package.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace {

constexpr int Block = 512;
constexpr int MaxEntries = 10000;             // a firmware package holds far fewer
constexpr qint64 MaxUnpacked = 1LL << 30;     // no panel has a GiB of flash to spare
constexpr int MaxPath = 4095, MaxComponent = 255;
constexpr int MaxPanelName = 51;              // the panel keeps 51 bytes of a name
constexpr qint64 MaxMeta = 1 << 20;           // a long name or extended header
const char *const configFiles[] = { "sys_conf.txt", "device_name.txt", "lowBatteryConf.txt", "timezone.cfg" };

// The gzip stream, decompressed on demand.
class Inflater
{
public:
    enum State { Reading, Ended, Truncated, Damaged, NotGzip };

    explicit Inflater(QIODevice &in) : m_in(in)
    {
        m_ok = inflateInit2(&m_z, 15 + 16) == Z_OK; // gzip wrapper only
    }
    ~Inflater() { inflateEnd(&m_z); }

    // Fills dst with n bytes; false when the stream ends or fails first.
    bool read(char *dst, int n)
    {
        m_z.next_out = reinterpret_cast<Bytef *>(dst);
        m_z.avail_out = static_cast<uInt>(n);
        while (m_z.avail_out > 0 && m_state == Reading) {
            if (m_z.avail_in == 0) {
                const qint64 got = m_in.read(m_input, sizeof m_input);
                if (got <= 0) {
                    m_state = Truncated;
                    break;
                }
                m_z.next_in = reinterpret_cast<Bytef *>(m_input);
                m_z.avail_in = static_cast<uInt>(got);
            }
            const int rc = m_ok ? inflate(&m_z, Z_NO_FLUSH) : Z_DATA_ERROR;
            if (rc == Z_STREAM_END)
                m_state = Ended;
            else if (rc != Z_OK && rc != Z_BUF_ERROR)
                m_state = m_z.total_out == 0 && m_z.total_in < 10 ? NotGzip : Damaged;
        }
        m_short = m_z.avail_out != static_cast<uInt>(n);
        const bool full = m_z.avail_out == 0;
        m_z.next_out = nullptr; // the caller's buffer is its own again
        m_z.avail_out = 0;
        return full;
    }
    // The last read failed part way, not at its start.
    bool cutShort() const { return m_short; }

    bool skip(qint64 n)
    {
        char sink[4096];
        for (; n > 0; n -= static_cast<qint64>(sizeof sink)) {
            if (!read(sink, static_cast<int>(qMin<qint64>(n, sizeof sink))))
                return false;
        }
        return true;
    }

    // Reads to the end of the gzip stream (a tar archive ends in zero padding).
    State finish()
    {
        char sink[4096];
        while (m_state == Reading && m_z.total_out < MaxUnpacked)
            read(sink, sizeof sink);
        return m_state;
    }
    State state() const { return m_state; }

private:
    QIODevice &m_in;
    z_stream m_z = {};
    bool m_ok = false;
    State m_state = Reading;
    bool m_short = false;
    char m_input[16384];
};

struct Header
{
    QByteArray name, link;
    char type = '0';
    int mode = 0;
    qint64 size = 0;
};

qint64 octal(const char *field, int length)
{
    if (static_cast<unsigned char>(field[0]) & 0x80) { // GNU base-256 for large sizes
        quint64 v = 0;
        for (int i = 1; i < length && v < (1ULL << 48); ++i)
            v = (v << 8) | static_cast<unsigned char>(field[i]);
        return static_cast<qint64>(qMin<quint64>(v, 1ULL << 48)); // beyond any limit below, without overflow
    }
    qint64 v = 0;
    int i = 0;
    while (i < length && field[i] == ' ')
        ++i;
    for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i)
        v = v * 8 + (field[i] - '0');
    return v;
}

QByteArray text(const char *field, int length) { return QByteArray(field, static_cast<int>(qstrnlen(field, length))); }

bool checksumOk(const char *b)
{
    long sum = 0;
    for (int i = 0; i < Block; ++i)
        sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(b[i]);
    return sum == octal(b + 148, 8);
}

// "path=" and "linkpath=" of a pax extended header.
void paxRecords(const QByteArray &data, Header *h)
{
    for (const QByteArray &record : data.split('\n')) {
        const int eq = record.indexOf('='), sp = record.indexOf(' ');
        if (sp < 0 || eq < sp)
            continue;
        const QByteArray key = record.mid(sp + 1, eq - sp - 1);
        if (key == "path")
            h->name = record.mid(eq + 1);
        else if (key == "linkpath")
            h->link = record.mid(eq + 1);
    }
}

// Whether a relative path, taken from directory dir, stays inside the tree.
bool staysInside(const QList<QByteArray> &dir, const QByteArray &path)
{
    int depth = dir.size();
    for (const QByteArray &c : path.split('/')) {
        if (c == "..")
            --depth;
        else if (!c.isEmpty() && c != ".")
            ++depth;
        if (depth < 0)
            return false;
    }
    return true;
}

QString machineName(int machine)
{
    switch (machine) {
    case 3: return QStringLiteral("an x86 program");
    case 62: return QStringLiteral("an x86-64 program");
    case 183: return QStringLiteral("a 64-bit ARM program");
    default: return QStringLiteral("a program for machine %1").arg(machine);
    }
}

struct Checker
{
    QList<PackageFinding> findings;
    QHash<QByteArray, QPair<Header, QByteArray>> installers; // pre_install, post_install: header, first bytes
    PackageSummary summary;

    void error(const QString &entry, const QString &t) { findings.append({ PackageFinding::Error, entry, t }); }
    void warning(const QString &entry, const QString &t) { findings.append({ PackageFinding::Warning, entry, t }); }

    void judgeEntry(const Header &h)
    {
        const QString name = QString::fromUtf8(h.name);
        QByteArray bare = h.name;
        while (bare.startsWith("./"))
            bare = bare.mid(2);
        const QList<QByteArray> parts = bare.split('/');
        if (h.name.isEmpty())
            error(name, QStringLiteral("an entry without a name"));
        if (h.name.startsWith('/'))
            error(name, QStringLiteral("absolute path: it would be written outside the application directory"));
        if (parts.contains(".."))
            error(name, QStringLiteral("\"..\" in the path: it would be written outside the application directory"));
        if (h.name.size() > MaxPath)
            error(name.left(60) + QStringLiteral("..."), QStringLiteral("path of %1 bytes: the panel takes at most %2").arg(h.name.size()).arg(MaxPath));
        else
            for (const QByteArray &c : parts)
                if (c.size() > MaxComponent)
                    error(name, QStringLiteral("a name of %1 bytes in the path: the panel takes at most %2").arg(c.size()).arg(MaxComponent));
        if (h.type == '3' || h.type == '4')
            error(name, QStringLiteral("device node: a package must not create devices"));
        else if (h.type == '6')
            error(name, QStringLiteral("FIFO: a package must not create named pipes"));
        else if (h.type == '2' && (h.link.startsWith('/') || !staysInside(parts.mid(0, parts.size() - 1), h.link)))
            error(name, QStringLiteral("symbolic link to %1 points outside the application directory").arg(QString::fromUtf8(h.link)));
        else if (h.type == '1' && (h.link.startsWith('/') || !staysInside({}, h.link)))
            error(name, QStringLiteral("hard link to %1 points outside the application directory").arg(QString::fromUtf8(h.link)));
        else if (h.type != '0' && h.type != '5' && h.type != '1' && h.type != '2' && h.type != '7')
            warning(name, QStringLiteral("entry of unknown type '%1'").arg(QLatin1Char(h.type)));
        if (parts.size() == 1 && h.type != '5')
            for (const char *config : configFiles)
                if (bare == config)
                    warning(name, QStringLiteral("overwrites the panel's configuration file %1 and the settings in it").arg(QLatin1String(config)));
        if (h.name != bare && (bare == "pre_install" || bare == "post_install"))
            warning(name, QStringLiteral("stored as %1: the installer asks tar for %2 and will not find it").arg(name, QString::fromLatin1(bare)));
    }

    void judgeInstaller(const char *script)
    {
        const QString name = QLatin1String(script);
        if (!installers.contains(script)) {
            error(name, QStringLiteral("missing at the top level: the panel's installer fails and the panel reboots"));
            return;
        }
        const Header &h = installers.value(script).first;
        const QByteArray head = installers.value(script).second;
        if (h.type != '0' && h.type != '7') {
            error(name, QStringLiteral("not a regular file: the panel cannot run it"));
            return;
        }
        if (!(h.mode & 0100))
            error(name, QStringLiteral("not executable (mode %1): the panel cannot run it").arg(h.mode, 4, 8, QLatin1Char('0')));
        if (head.startsWith("#!"))
            return;
        if (!head.startsWith("\x7f" "ELF") || head.size() < 20) {
            error(name, QStringLiteral("neither a script starting with #! nor a program: the panel cannot run it"));
            return;
        }
        const bool little = head.at(5) == 1;
        const int machine = little ? (static_cast<unsigned char>(head.at(18)) | static_cast<unsigned char>(head.at(19)) << 8)
                                   : (static_cast<unsigned char>(head.at(18)) << 8 | static_cast<unsigned char>(head.at(19)));
        if (head.at(4) != 1 || machine != 40 || !little)
            error(name, QStringLiteral("%1: the panel runs 32-bit ARM programs only").arg(head.at(4) == 2 && machine == 40 ? QStringLiteral("a 64-bit ARM program") : machineName(machine)));
    }

    // Reads the archive; false when it could not be read to its end.
    bool readArchive(Inflater &in)
    {
        char b[Block];
        Header pending;
        while (in.read(b, Block)) {
            if (std::all_of(b, b + Block, [](char c) { return c == 0; }))
                return true; // end of archive
            if (!checksumOk(b)) {
                error(QString(), summary.entries == 0 && pending.name.isEmpty()
                                     ? QStringLiteral("not a tar archive (the first header is not one)")
                                     : QStringLiteral("damaged tar header after %1 entries").arg(summary.entries));
                return false;
            }
            Header h;
            h.type = b[156] ? b[156] : '0';
            h.mode = static_cast<int>(octal(b + 100, 8));
            h.size = octal(b + 124, 12);
            h.link = text(b + 157, 100);
            h.name = text(b, 100);
            if (memcmp(b + 257, "ustar\0", 6) == 0 && b[345])
                h.name = text(b + 345, 155) + '/' + h.name;
            if (summary.unpackedBytes + h.size > MaxUnpacked) {
                error(QString::fromUtf8(h.name), QStringLiteral("the package unpacks to more than 1 GiB"));
                return false;
            }
            const qint64 padded = (h.size + Block - 1) / Block * Block;
            if (h.type == 'L' || h.type == 'K' || h.type == 'x' || h.type == 'g') {
                if (h.size > MaxMeta) {
                    error(QString(), QStringLiteral("a long-name or extended header of %1 bytes: not a tar archive the panel can read").arg(h.size));
                    return false;
                }
                QByteArray data(static_cast<int>(h.size), '\0');
                if (!in.read(data.data(), data.size()) || !in.skip(padded - h.size))
                    return false;
                if (h.type == 'L')
                    pending.name = text(data.constData(), data.size());
                else if (h.type == 'K')
                    pending.link = text(data.constData(), data.size());
                else if (h.type == 'x') // a global header ('g') names no entry
                    paxRecords(data, &pending);
                continue;
            }
            if (!pending.name.isEmpty())
                h.name = pending.name;
            if (!pending.link.isEmpty())
                h.link = pending.link;
            pending = Header();
            if (++summary.entries > MaxEntries) {
                error(QString(), QStringLiteral("more than %1 entries: not an upgrade package (a tar bomb?)").arg(MaxEntries));
                return false;
            }
            judgeEntry(h);
            const bool hasData = h.type == '0' || h.type == '7';
            summary.unpackedBytes += hasData ? (h.size + 4095) / 4096 * 4096 : (h.type == '5' ? 4096 : 0);
            QByteArray head;
            if (hasData) {
                head.resize(static_cast<int>(qMin<qint64>(h.size, 64)));
                if (!in.read(head.data(), head.size()) || !in.skip(padded - head.size()))
                    return false;
            }
            if (h.name == "pre_install" || h.name == "post_install")
                installers.insert(h.name, qMakePair(h, head));
        }
        // Without its two zero blocks an archive still ends cleanly between entries.
        return in.state() == Inflater::Ended && !in.cutShort() && pending.name.isEmpty();
    }
};

} // namespace

QList<PackageFinding> checkPackageData(const QByteArray &gzip, const QString &name, PackageSummary *summary)
{
    QByteArray copy = gzip;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    Checker c;
    if (name.contains(QLatin1Char(' ')) || name.contains(QLatin1Char('\t')))
        c.error(name, QStringLiteral("the file name has a blank: the panel's installer splits its tar command there and cannot unpack it"));
    if (name.toLocal8Bit().size() > MaxPanelName)
        c.error(name, QStringLiteral("the file name is longer than the %1 bytes the panel keeps").arg(MaxPanelName));
    c.summary.packedBytes = gzip.size();
    if (gzip.isEmpty()) {
        c.error(name, QStringLiteral("the package is empty (0 bytes): not a gzip file"));
    } else if (!gzip.startsWith("\x1f\x8b")) {
        c.error(name, QStringLiteral("not a gzip file"));
    } else {
        Inflater in(buffer);
        const bool complete = c.readArchive(in);
        const Inflater::State end = complete ? in.finish() : in.state();
        if (end == Inflater::Truncated)
            c.error(name, QStringLiteral("truncated: the compressed data ends early"));
        else if (end == Inflater::Damaged || end == Inflater::NotGzip)
            c.error(name, QStringLiteral("damaged compressed data: the panel's tar cannot read it"));
        else if (!complete && !hasErrors(c.findings))
            c.error(name, QStringLiteral("truncated: the archive ends inside an entry"));
        if (complete) {
            c.judgeInstaller("pre_install");
            c.judgeInstaller("post_install");
        }
    }
    if (summary)
        *summary = c.summary;
    return c.findings;
}

QList<PackageFinding> checkPackage(const QString &path, PackageSummary *summary)
{
    QFile file(path);
    const QString name = QFileInfo(path).fileName();
    if (QFileInfo::exists(path) && !QFileInfo(path).isFile()) // a FIFO would hold the open
        return { { PackageFinding::Error, name, QStringLiteral("%1 is not a regular file").arg(path) } };
    if (!file.open(QIODevice::ReadOnly))
        return { { PackageFinding::Error, name, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()) } };
    if (file.size() > MaxUnpacked)
        return { { PackageFinding::Error, name, QStringLiteral("larger than 1 GiB: not an upgrade package for the panel") } };
    return checkPackageData(file.readAll(), name, summary);
}

QList<PackageFinding> checkFreeFlash(const PackageSummary &summary, qint64 freeKiB, const QString &name)
{
    // The panel stores the package, then unpacks it beside itself.
    const qint64 neededKiB = (summary.packedBytes + 1023) / 1024 + summary.unpackedBytes / 1024;
    if (neededKiB <= freeKiB)
        return {};
    return { { PackageFinding::Error, name,
               QStringLiteral("needs %1 KiB on the panel (%2 KiB packed, %3 KiB unpacked) but it has %4 KiB free")
                   .arg(neededKiB)
                   .arg((summary.packedBytes + 1023) / 1024)
                   .arg(summary.unpackedBytes / 1024)
                   .arg(freeKiB) } };
}

bool hasErrors(const QList<PackageFinding> &findings)
{
    return std::any_of(findings.begin(), findings.end(),
                       [](const PackageFinding &f) { return f.severity == PackageFinding::Error; });
}

QString describe(const PackageFinding &f)
{
    const QString kind = f.severity == PackageFinding::Error ? QStringLiteral("error") : QStringLiteral("warning");
    return f.entry.isEmpty() ? QStringLiteral("%1: %2").arg(kind, f.text) : QStringLiteral("%1: %2: %3").arg(kind, f.entry, f.text);
}
