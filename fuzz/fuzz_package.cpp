// The upgrade package check: any bytes, read as the package a service
// engineer is about to send.
//
// Input: the package file.

#include "fuzz_support.h"
#include "package.h"

namespace {

void run(const uint8_t *data, size_t size)
{
    PackageSummary summary;
    const QList<PackageFinding> findings = checkPackageData(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<int>(size)), QStringLiteral("p.tar.gz"), &summary);
    fuzz::expect(summary.packedBytes == static_cast<qint64>(size), "the packed size is the input's");
    fuzz::expect(summary.entries <= 10001, "reading stops after the entry limit");
    fuzz::expect(hasErrors(findings) || summary.entries >= 2, "a package without errors holds both installer scripts");
    for (const PackageFinding &f : findings)
        fuzz::expect(!f.text.isEmpty() && describe(f).size() < 400, "every finding says something, in a line of its own");
}

} // namespace

// An empty package warms up: the reader meets its first input ready.
KVX_FUZZ_TARGET(run, QByteArray)
