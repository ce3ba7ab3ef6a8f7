// Checking an upgrade package before it leaves the PC. libarchive's reader
// gives each entry as stored (absolute paths, "..", device nodes, where a
// link points, an entry stored as ./pre_install): what the panel's tar would
// act on. Its gzip reader skips the CRC-32 and the length in the gzip
// trailer, which the panel's gunzip checks, so zlib also inflates the stream.

#include "package.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <sys/stat.h>
#include <zlib.h>

namespace {

constexpr int MaxEntries = 10000;         // a firmware package holds far fewer
constexpr qint64 MaxUnpacked = 1LL << 30; // no panel has a GiB of flash to spare
constexpr int MaxPath = 4095, MaxComponent = 255;
constexpr int MaxPanelName = 51; // the panel keeps 51 bytes of a name
constexpr int HeadBytes = 64;    // enough of an installer to tell a script from a program
const char *const configFiles[] = { "sys_conf.txt", "device_name.txt", "lowBatteryConf.txt", "timezone.cfg" };

using Reader = std::unique_ptr<struct archive, decltype(&archive_read_free)>;

enum class Stream { Whole, Truncated, Damaged };

// Inflates the gzip stream into nothing, for its CRC-32 and length. Past
// 1 GiB, where the entries' own limit has spoken, the rest is not read.
Stream inflateAll(const QByteArray &gzip)
{
    z_stream z = {};
    if (inflateInit2(&z, 15 + 16) != Z_OK) // gzip wrapper only
        return Stream::Damaged;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(gzip.constData()));
    z.avail_in = static_cast<uInt>(gzip.size());
    char sink[65536];
    int rc = Z_OK;
    while (rc == Z_OK && z.total_out < static_cast<uLong>(MaxUnpacked)) {
        z.next_out = reinterpret_cast<Bytef *>(sink);
        z.avail_out = sizeof sink;
        rc = inflate(&z, Z_NO_FLUSH);
    }
    inflateEnd(&z);
    if (rc == Z_OK || rc == Z_STREAM_END)
        return Stream::Whole;
    return rc == Z_BUF_ERROR ? Stream::Truncated : Stream::Damaged; // no progress: the input ran out
}

// libarchive holds a name as raw bytes (a ustar field) or as UTF-8 (a pax
// record) and converts it for the locale on demand, which can fail.
QByteArray stored(const char *raw, const char *utf8) { return QByteArray(raw ? raw : utf8 ? utf8 : ""); }

struct Entry
{
    QByteArray name, link;
    mode_t type = 0;
    bool hardLink = false;
    int mode = 0;
    qint64 size = 0;

    bool regular() const { return type == AE_IFREG && !hardLink; }
};

Entry entryOf(struct archive_entry *e)
{
    Entry h;
    h.name = stored(archive_entry_pathname(e), archive_entry_pathname_utf8(e));
    h.hardLink = archive_entry_hardlink(e) || archive_entry_hardlink_utf8(e);
    h.link = h.hardLink ? stored(archive_entry_hardlink(e), archive_entry_hardlink_utf8(e))
                        : stored(archive_entry_symlink(e), archive_entry_symlink_utf8(e));
    h.type = archive_entry_filetype(e);
    h.mode = static_cast<int>(archive_entry_perm(e));
    h.size = archive_entry_size(e);
    return h;
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
    case 3:
        return QStringLiteral("an x86 program");
    case 62:
        return QStringLiteral("an x86-64 program");
    case 183:
        return QStringLiteral("a 64-bit ARM program");
    default:
        return QStringLiteral("a program for machine %1").arg(machine);
    }
}

struct Checker
{
    QList<PackageFinding> findings;
    QHash<QByteArray, QPair<Entry, QByteArray>> installers; // pre_install, post_install: entry, first bytes
    PackageSummary summary;
    QString package; // the package's file name

    void error(const QString &entry, const QString &t) { findings.append({ PackageFinding::Error, entry, t }); }
    void warning(const QString &entry, const QString &t) { findings.append({ PackageFinding::Warning, entry, t }); }

    void judgeEntry(const Entry &h)
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
            error(name.left(60) + QStringLiteral("..."),
                  QStringLiteral("path of %1 bytes: the panel takes at most %2").arg(h.name.size()).arg(MaxPath));
        else
            for (const QByteArray &c : parts)
                if (c.size() > MaxComponent)
                    error(name,
                          QStringLiteral("a name of %1 bytes in the path: the panel takes at most %2")
                              .arg(c.size())
                              .arg(MaxComponent));
        if (h.type == AE_IFCHR || h.type == AE_IFBLK)
            error(name, QStringLiteral("device node: a package must not create devices"));
        else if (h.type == AE_IFIFO)
            error(name, QStringLiteral("FIFO: a package must not create named pipes"));
        else if (h.hardLink && (h.link.startsWith('/') || !staysInside({}, h.link)))
            error(name,
                  QStringLiteral("hard link to %1 points outside the application directory")
                      .arg(QString::fromUtf8(h.link)));
        else if (h.type == AE_IFLNK && (h.link.startsWith('/') || !staysInside(parts.mid(0, parts.size() - 1), h.link)))
            error(name,
                  QStringLiteral("symbolic link to %1 points outside the application directory")
                      .arg(QString::fromUtf8(h.link)));
        if (parts.size() == 1 && h.type != AE_IFDIR)
            for (const char *config : configFiles)
                if (bare == config)
                    warning(name,
                            QStringLiteral("overwrites the panel's configuration file %1 and the settings in it")
                                .arg(QLatin1String(config)));
        if (h.name != bare && (bare == "pre_install" || bare == "post_install"))
            warning(name,
                    QStringLiteral("stored as %1: the installer asks tar for %2 and will not find it")
                        .arg(name, QString::fromLatin1(bare)));
    }

    void judgeInstaller(const char *script)
    {
        const QString name = QLatin1String(script);
        if (!installers.contains(script)) {
            error(name, QStringLiteral("missing at the top level: the panel's installer fails and the panel reboots"));
            return;
        }
        const Entry &h = installers.value(script).first;
        const QByteArray head = installers.value(script).second;
        if (!h.regular()) {
            error(name, QStringLiteral("not a regular file: the panel cannot run it"));
            return;
        }
        if (!(h.mode & 0100))
            error(name,
                  QStringLiteral("not executable (mode %1): the panel cannot run it")
                      .arg(h.mode, 4, 8, QLatin1Char('0')));
        if (head.startsWith("#!"))
            return;
        if (!head.startsWith("\x7f"
                             "ELF")
            || head.size() < 20) {
            error(name, QStringLiteral("neither a script starting with #! nor a program: the panel cannot run it"));
            return;
        }
        const bool little = head.at(5) == 1;
        const int machine = little
            ? (static_cast<unsigned char>(head.at(18)) | static_cast<unsigned char>(head.at(19)) << 8)
            : (static_cast<unsigned char>(head.at(18)) << 8 | static_cast<unsigned char>(head.at(19)));
        if (head.at(4) != 1 || machine != 40 || !little)
            error(name,
                  QStringLiteral("%1: the panel runs 32-bit ARM programs only")
                      .arg(head.at(4) == 2 && machine == 40 ? QStringLiteral("a 64-bit ARM program")
                                                            : machineName(machine)));
    }

    // Reads every header to the archive's end (true), or says why it stopped.
    // libarchive refuses a long-name or pax header over 1 MiB before it
    // allocates it, so a header that claims a GiB costs nothing.
    bool readArchive(struct archive *a, const QByteArray &gzip, bool gzipWhole)
    {
        struct archive_entry *e = nullptr;
        int rc = archive_read_open_memory(a, gzip.constData(), static_cast<size_t>(gzip.size()));
        const bool opened = rc == ARCHIVE_OK; // opening reads the first header to know the format
        while (rc == ARCHIVE_OK) {
            rc = archive_read_next_header(a, &e);
            if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN) // a warning: a name not in the locale's character set
                break;
            const Entry h = entryOf(e);
            if (summary.unpackedBytes + h.size > MaxUnpacked) {
                error(QString::fromUtf8(h.name), QStringLiteral("the package unpacks to more than 1 GiB"));
                return false;
            }
            if (++summary.entries > MaxEntries) {
                error(QString(),
                      QStringLiteral("more than %1 entries: not an upgrade package (a tar bomb?)").arg(MaxEntries));
                return false;
            }
            judgeEntry(h);
            summary.unpackedBytes += h.regular() ? (h.size + 4095) / 4096 * 4096 : (h.type == AE_IFDIR ? 4096 : 0);
            QByteArray head(static_cast<int>(h.regular() ? qMin<qint64>(h.size, HeadBytes) : 0), '\0');
            const la_ssize_t got
                = head.isEmpty() ? 0 : archive_read_data(a, head.data(), static_cast<size_t>(head.size()));
            rc = got < 0 ? ARCHIVE_FATAL : ARCHIVE_OK;
            if (h.name == "pre_install" || h.name == "post_install")
                installers.insert(h.name, qMakePair(h, head.left(static_cast<int>(got))));
        }
        if (rc != ARCHIVE_EOF && gzipWhole) // else the compressed stream is at fault, as the caller says
            tellFailure(a, rc, opened);
        return rc == ARCHIVE_EOF;
    }

    void tellFailure(struct archive *a, int rc, bool opened)
    {
        const QString why = QString::fromLocal8Bit(archive_error_string(a));
        if (rc == ARCHIVE_RETRY)
            error(QString(), QStringLiteral("damaged tar header after %1 entries").arg(summary.entries));
        else if (!opened)
            error(QString(), QStringLiteral("not a tar archive (the first header is not one)"));
        else if (why.startsWith(QLatin1String("Truncated")))
            error(package, QStringLiteral("truncated: the archive ends inside an entry"));
        else
            error(package, QStringLiteral("unreadable tar archive after %1 entries: %2").arg(summary.entries).arg(why));
    }
};

} // namespace

QList<PackageFinding> checkPackageData(const QByteArray &gzip, const QString &name, PackageSummary *summary)
{
    Checker c;
    c.package = name;
    if (name.contains(QLatin1Char(' ')) || name.contains(QLatin1Char('\t')))
        c.error(
            name,
            QStringLiteral(
                "the file name has a blank: the panel's installer splits its tar command there and cannot unpack it"));
    if (name.toLocal8Bit().size() > MaxPanelName)
        c.error(name, QStringLiteral("the file name is longer than the %1 bytes the panel keeps").arg(MaxPanelName));
    c.summary.packedBytes = gzip.size();
    if (gzip.isEmpty()) {
        c.error(name, QStringLiteral("the package is empty (0 bytes): not a gzip file"));
    } else if (!gzip.startsWith("\x1f\x8b")) {
        c.error(name, QStringLiteral("not a gzip file"));
    } else {
        const Stream stream = inflateAll(gzip);
        Reader a(archive_read_new(), archive_read_free);
        // Only these two: libarchive's other formats and its filters that start
        // external programs never see a package from the field.
        archive_read_support_filter_gzip(a.get());
        archive_read_support_format_tar(a.get());
        const bool complete = c.readArchive(a.get(), gzip, stream == Stream::Whole);
        if (stream == Stream::Truncated)
            c.error(name, QStringLiteral("truncated: the compressed data ends early"));
        else if (stream == Stream::Damaged)
            c.error(name, QStringLiteral("damaged compressed data: the panel's tar cannot read it"));
        if (complete) {
            c.judgeInstaller("pre_install");
            c.judgeInstaller("post_install");
        }
    }
    if (summary)
        *summary = c.summary;
    return c.findings;
}

QString notAFile(const QString &path)
{
    struct stat st;
    if (stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return QString(); // opening it says what is wrong, if anything
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is a directory, not a file").arg(path);
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("%1 is a named pipe (FIFO), not a file: reading it would wait for a writer").arg(path);
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("%1 is a device, not a file").arg(path);
    return QStringLiteral("%1 is not a regular file").arg(path);
}

QList<PackageFinding> checkPackage(const QString &path, PackageSummary *summary)
{
    QFile file(path);
    const QString name = QFileInfo(path).fileName();
    const QString odd = notAFile(path); // a FIFO would hold the open, a device might answer it
    if (!odd.isEmpty())
        return { { PackageFinding::Error, name, odd } };
    if (!file.open(QIODevice::ReadOnly))
        return { { PackageFinding::Error, name, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()) } };
    if (file.size() > MaxUnpacked)
        return { { PackageFinding::Error, name,
                   QStringLiteral("larger than 1 GiB: not an upgrade package for the panel") } };
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
    return f.entry.isEmpty() ? QStringLiteral("%1: %2").arg(kind, f.text)
                             : QStringLiteral("%1: %2: %3").arg(kind, f.entry, f.text);
}
