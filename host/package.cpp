// Building an upgrade package: the tar archive is written with KArchive and
// compressed with zlib, whose gzip header carries no time or name, so the
// same directory gives the same bytes and the same MD5 on every PC.

#include "package.h"

#include <KTar>
#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// 2000-01-01 00:00:00 UTC: any fixed time would do; this one every tar reads.
const QDateTime fixedTime = QDateTime::fromSecsSinceEpoch(946684800, Qt::UTC);
const QString owner = QStringLiteral("root");

// The names in one directory, in byte order of their UTF-8 form.
QStringList sortedNames(const QString &dir)
{
    QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                            QDir::NoSort);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a.toUtf8() < b.toUtf8(); });
    return names;
}

QByteArray linkTarget(const QString &path)
{
    QByteArray target(4096, '\0');
    const ssize_t n = readlink(QFile::encodeName(path).constData(), target.data(), target.size());
    return n < 0 ? QByteArray() : target.left(static_cast<int>(n));
}

bool addTree(KTar &tar, const QString &root, const QString &rel, QString *error)
{
    for (const QString &name : sortedNames(root + QLatin1Char('/') + rel)) {
        const QString entry = rel.isEmpty() ? name : rel + QLatin1Char('/') + name;
        const QString path = root + QLatin1Char('/') + entry;
        struct stat st;
        if (lstat(QFile::encodeName(path).constData(), &st) != 0) {
            *error = QStringLiteral("cannot read %1").arg(path);
            return false;
        }
        bool ok = true;
        if (S_ISLNK(st.st_mode)) {
            ok = tar.writeSymLink(entry, QFile::decodeName(linkTarget(path)), owner, owner, 0120777, fixedTime,
                                  fixedTime, fixedTime);
        } else if (S_ISDIR(st.st_mode)) {
            ok = tar.writeDir(entry, owner, owner, 040755, fixedTime, fixedTime, fixedTime)
                && addTree(tar, root, entry, error);
            if (!error->isEmpty())
                return false;
        } else if (S_ISREG(st.st_mode)) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
                return false;
            }
            const bool installer = rel.isEmpty() && (name == QLatin1String("pre_install") || name == QLatin1String("post_install"));
            const mode_t mode = (installer || (st.st_mode & S_IXUSR)) ? 0100755 : 0100644;
            ok = tar.writeFile(entry, file.readAll(), mode, owner, owner, fixedTime, fixedTime, fixedTime)
                && file.error() == QFile::NoError;
        } else {
            *error = QStringLiteral("%1 is a device, FIFO or socket: a package holds files, directories and links only").arg(path);
            return false;
        }
        if (!ok) {
            *error = QStringLiteral("cannot add %1 to the package: %2").arg(path, tar.errorString());
            return false;
        }
    }
    return true;
}

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

} // namespace

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
    QBuffer tarBytes;
    KTar tar(&tarBytes);
    if (!tar.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot start the archive: %1").arg(tar.errorString());
        return false;
    }
    if (!addTree(tar, QDir(dir).absolutePath(), QString(), error))
        return false;
    if (!tar.close()) {
        *error = QStringLiteral("cannot finish the archive: %1").arg(tar.errorString());
        return false;
    }
    // The end of the archive: two zero blocks, which KTar leaves to the caller.
    if (!gzipCompress(tarBytes.data() + QByteArray(1024, '\0'), gzip)) {
        *error = QStringLiteral("cannot compress the archive (%1 bytes)").arg(tarBytes.size());
        return false;
    }
    return true;
}
