// The package subcommands: package builds one, check reads one, and the
// upgrade runs the same check before anything is sent.

#include "commands.h"

#include "package.h"
#include "replies.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>


namespace {

void printFindings(const QList<PackageFinding> &findings)
{
    for (const PackageFinding &f : findings)
        out(describe(f));
}

// The panel's free flash in KiB, from its hardware report.
int panelFreeFlash(Session &s, qint64 *freeKiB)
{
    QList<ReportRow> rows;
    const int rc = s.askReport(&rows);
    if (rc != ExitOk)
        return rc;
    for (const ReportRow &row : rows) {
        if (row.tag == QLatin1String("FFLHSZ")) {
            *freeKiB = row.value.toLongLong();
            return ExitOk;
        }
    }
    return fail(ExitNoAnswer, QStringLiteral("the panel's hardware report has no free flash (FFLHSZ)"));
}

} // namespace

int checkPackageFile(Session *panel, const QString &path, bool quietWhenClean)
{
    PackageSummary summary;
    QList<PackageFinding> findings = checkPackage(path, &summary);
    if (panel && !hasErrors(findings)) {
        qint64 freeKiB = 0;
        const int rc = panelFreeFlash(*panel, &freeKiB);
        if (rc != ExitOk)
            return rc;
        findings += checkFreeFlash(summary, freeKiB, QFileInfo(path).fileName());
        if (!quietWhenClean || !findings.isEmpty())
            out(QStringLiteral("The panel has %1 KiB of flash free.").arg(freeKiB));
    }
    printFindings(findings);
    const int errors = static_cast<int>(std::count_if(
        findings.begin(), findings.end(), [](const PackageFinding &f) { return f.severity == PackageFinding::Error; }));
    if (!quietWhenClean || !findings.isEmpty())
        out(QStringLiteral("%1: %2 entries, %3 bytes packed, about %4 KiB unpacked; %5 error(s), %6 warning(s).")
                .arg(path)
                .arg(summary.entries)
                .arg(summary.packedBytes)
                .arg(summary.unpackedBytes / 1024)
                .arg(errors)
                .arg(findings.size() - errors));
    return errors ? ExitUsage : ExitOk;
}

int packageCommand(Session &, const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption outOption(QStringLiteral("o"), QString(), QStringLiteral("NAME"));
    if (!parseCommandLine(parser, args, { outOption }) || parser.positionalArguments().size() != 1
        || !parser.isSet(outOption))
        return fail(ExitUsage, QStringLiteral("usage: package DIR -o NAME.tar.gz"));
    const QString target = parser.value(outOption);
    const QString source = QDir(parser.positionalArguments().at(0)).absolutePath();
    if (QFileInfo(target).absoluteFilePath().startsWith(source + QLatin1Char('/')))
        return fail(ExitUsage,
                    QStringLiteral("%1 would lie inside the directory it packs (and a second run would pack "
                                   "the first package); write it elsewhere")
                        .arg(target));
    QByteArray gzip;
    QString problem;
    if (!buildPackage(parser.positionalArguments().at(0), &gzip, &problem))
        return fail(ExitUsage, problem);
    PackageSummary summary;
    const QList<PackageFinding> findings = checkPackageData(gzip, QFileInfo(target).fileName(), &summary);
    printFindings(findings);
    if (hasErrors(findings))
        return fail(ExitUsage, QStringLiteral("%1 not written: the panel could not install it").arg(target));
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || file.write(gzip) != gzip.size() || !file.commit())
        return fail(ExitUsage, QStringLiteral("cannot write %1: %2").arg(target, file.errorString()));
    out(QStringLiteral("%1: %2 bytes, MD5 %3")
            .arg(target)
            .arg(gzip.size())
            .arg(QString::fromLatin1(QCryptographicHash::hash(gzip, QCryptographicHash::Md5).toHex())));
    return ExitOk;
}

int checkCommand(Session &s, const QStringList &args)
{
    if (args.size() != 1)
        return fail(ExitUsage, QStringLiteral("usage: [-p DEVICE] check PACKAGE"));
    if (!notAFile(args.at(0)).isEmpty())
        return fail(ExitUsage, notAFile(args.at(0)));
    if (!s.options().deviceGiven)
        return checkPackageFile(nullptr, args.at(0), false);
    const int rc = s.open();
    return rc != ExitOk ? rc : checkPackageFile(&s, args.at(0), false);
}
