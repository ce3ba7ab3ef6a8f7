#ifndef KVX_HOST_PACKAGE_H
#define KVX_HOST_PACKAGE_H

#include <QByteArray>
#include <QList>
#include <QString>

// Upgrade packages: a gzip-compressed tar archive that the panel unpacks in
// its application directory after running pre_install, then runs
// post_install and reboots whatever happens. A fault in a package shows only
// on the panel, after the transfer, so both the builder and the upgrade check
// a package here first.

struct PackageFinding
{
    enum Severity { Error, Warning };
    Severity severity;
    QString entry; // the archive entry concerned, or the package's own name
    QString text;
};

struct PackageSummary
{
    qint64 packedBytes = 0;
    qint64 unpackedBytes = 0; // file data rounded up to the file system's 4 KiB blocks
    int entries = 0;
};

// Reads the gzip tar archive in path and reports what would fail or surprise
// on the panel. The package's file name is judged too (the panel's installer
// splits its command lines at blanks).
QList<PackageFinding> checkPackage(const QString &path, PackageSummary *summary);

// The same for bytes in memory; name is the file name the panel would get.
QList<PackageFinding> checkPackageData(const QByteArray &gzip, const QString &name, PackageSummary *summary);

// Why path cannot be read as a package or uploaded: a directory, a FIFO (whose
// open would wait for a writer) or a device; empty for a regular file or
// one that does not exist.
QString notAFile(const QString &path);

// Whether the package and what it unpacks to fit in freeKiB of flash.
QList<PackageFinding> checkFreeFlash(const PackageSummary &summary, qint64 freeKiB, const QString &name);

bool hasErrors(const QList<PackageFinding> &findings);

// "error: ENTRY: text" or "warning: ENTRY: text".
QString describe(const PackageFinding &finding);

// Builds the package bytes from the files under dir: entries sorted by
// name, owner root and every time fixed, so one directory always gives the
// same bytes. Returns false with the reason in error.
bool buildPackage(const QString &dir, QByteArray *gzip, QString *error);

// gzip with a header that holds no time and no name.
bool gzipCompress(const QByteArray &data, QByteArray *out);

#endif
