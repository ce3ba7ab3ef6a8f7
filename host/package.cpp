// Building an upgrade package: the tar archive is written with libarchive
// and compressed with zlib, whose gzip header carries no time or name, so the
// same directory gives the same bytes and the same MD5 on every PC.

#include "package.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// 2000-01-01 00:00:00 UTC: any fixed time would do; this one every tar reads.
constexpr time_t fixedTime = 946684800;

using Archive = std::unique_ptr<struct archive, decltype(&archive_write_free)>;
using Entry = std::unique_ptr<struct archive_entry, decltype(&archive_entry_free)>;

// The names in one directory, in byte order of their UTF-8 form.
QStringList sortedNames(const QString &dir)
{
    QStringList names
        = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a.toUtf8() < b.toUtf8(); });
    return names;
}

QByteArray linkTarget(const QString &path)
{
    QByteArray target(4096, '\0');
    const ssize_t n = readlink(QFile::encodeName(path).constData(), target.data(), target.size());
    return n < 0 ? QByteArray() : target.left(static_cast<int>(n));
}

// One entry: owner root, the fixed time, and the file's contents streamed.
bool addEntry(struct archive *a, const QByteArray &name, const struct stat &st, const QString &path, mode_t mode,
              QString *error)
{
    Entry e(archive_entry_new(), archive_entry_free);
    archive_entry_set_pathname(e.get(), name.constData());
    archive_entry_set_mode(e.get(), mode);
    archive_entry_set_uid(e.get(), 0);
    archive_entry_set_gid(e.get(), 0);
    archive_entry_set_uname(e.get(), "root");
    archive_entry_set_gname(e.get(), "root");
    archive_entry_set_mtime(e.get(), fixedTime, 0);
    QFile file(path);
    if (S_ISLNK(st.st_mode))
        archive_entry_set_symlink(e.get(), linkTarget(path).constData());
    if (S_ISREG(st.st_mode)) {
        archive_entry_set_size(e.get(), st.st_size);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
    }
    bool ok = archive_write_header(a, e.get()) == ARCHIVE_OK;
    char chunk[65536];
    for (qint64 n; ok && file.isOpen() && (n = file.read(chunk, sizeof chunk)) > 0;)
        ok = archive_write_data(a, chunk, static_cast<size_t>(n)) == n;
    if (!ok || file.error() != QFile::NoError)
        *error = QStringLiteral("cannot add %1 to the package: %2")
                     .arg(path,
                          file.error() != QFile::NoError ? file.errorString()
                                                         : QString::fromLocal8Bit(archive_error_string(a)));
    return error->isEmpty();
}

bool addTree(struct archive *a, const QString &root, const QString &rel, QString *error)
{
    for (const QString &name : sortedNames(root + QLatin1Char('/') + rel)) {
        const QString entry = rel.isEmpty() ? name : rel + QLatin1Char('/') + name;
        const QString path = root + QLatin1Char('/') + entry;
        struct stat st;
        if (lstat(QFile::encodeName(path).constData(), &st) != 0) {
            *error = QStringLiteral("cannot read %1").arg(path);
            return false;
        }
        const bool installer
            = rel.isEmpty() && (name == QLatin1String("pre_install") || name == QLatin1String("post_install"));
        mode_t mode;
        if (S_ISLNK(st.st_mode))
            mode = AE_IFLNK | 0777;
        else if (S_ISDIR(st.st_mode))
            mode = AE_IFDIR | 0755;
        else if (S_ISREG(st.st_mode))
            mode = AE_IFREG | ((installer || (st.st_mode & S_IXUSR)) ? 0755 : 0644);
        else {
            *error = QStringLiteral("%1 is a device, FIFO or socket: a package holds files, directories and links only")
                         .arg(path);
            return false;
        }
        if (!addEntry(a, QFile::encodeName(entry), st, path, mode, error)
            || (S_ISDIR(st.st_mode) && !addTree(a, root, entry, error)))
            return false;
    }
    return true;
}

la_ssize_t appendTo(struct archive *, void *buffer, const void *data, size_t n)
{
    static_cast<QByteArray *>(buffer)->append(static_cast<const char *>(data), static_cast<int>(n));
    return static_cast<la_ssize_t>(n);
}

} // namespace

bool gzipCompress(const QByteArray &data, QByteArray *out)
{
    z_stream z = {};
    // 15 + 16: a gzip wrapper whose header zlib leaves without time or name.
    if (deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    out->resize(static_cast<int>(deflateBound(&z, static_cast<uLong>(data.size()))));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out->data());
    z.avail_out = static_cast<uInt>(out->size());
    const int rc = deflate(&z, Z_FINISH);
    out->resize(static_cast<int>(z.total_out));
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

bool buildPackage(const QString &dir, QByteArray *gzip, QString *error)
{
    error->clear();
    if (!QFileInfo(dir).isDir()) {
        *error = QStringLiteral("%1 is not a directory").arg(dir);
        return false;
    }
    for (const char *script : { "pre_install", "post_install" }) {
        const QFileInfo info(dir + QLatin1Char('/') + QLatin1String(script));
        if (!info.isFile() || info.isSymLink()) {
            *error = QStringLiteral("%1 has no %2 file: the panel runs pre_install before it unpacks the package "
                                    "and post_install after it")
                         .arg(dir, QLatin1String(script));
            return false;
        }
    }
    // GNU tar's format, which every tar reads, long names included.
    QByteArray tar;
    Archive a(archive_write_new(), archive_write_free);
    if (archive_write_set_format_gnutar(a.get()) != ARCHIVE_OK
        || archive_write_open2(a.get(), &tar, nullptr, appendTo, nullptr, nullptr) != ARCHIVE_OK) {
        *error
            = QStringLiteral("cannot start the archive: %1").arg(QString::fromLocal8Bit(archive_error_string(a.get())));
        return false;
    }
    if (!addTree(a.get(), QDir(dir).absolutePath(), QString(), error))
        return false;
    if (archive_write_close(a.get()) != ARCHIVE_OK) {
        *error = QStringLiteral("cannot finish the archive: %1")
                     .arg(QString::fromLocal8Bit(archive_error_string(a.get())));
        return false;
    }
    if (!gzipCompress(tar, gzip)) {
        *error = QStringLiteral("cannot compress the archive (%1 bytes)").arg(tar.size());
        return false;
    }
    return true;
}
