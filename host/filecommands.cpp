// The file transfer subcommands: upload, upgrade and download.

#include "commands.h"

#include "package.h"

#include "progress.h"
#include "replies.h"
#include "transfer.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <climits>
#include <cstdio>

using namespace hostlink;

namespace {

// The panel keeps at most this many bytes of a file name.
constexpr int MaxNameBytes = 51;

QString rate(qint64 bytes, double seconds)
{
    return humanSize(seconds > 0 ? bytes / seconds : 0.0) + QStringLiteral("/s");
}

int transferFailure(Session &s, const TransferOutcome &o, const QString &after)
{
    int code = ExitTransfer;
    if (o.kind == TransferOutcome::NoAnswer)
        code = ExitNoAnswer;
    else if (o.kind == TransferOutcome::Broken)
        code = ExitDevice;
    return fail(code, QStringLiteral("transfer failed on %1: %2%3").arg(s.options().device, o.message, after));
}

// Opens a file to upload and checks what the panel can take.
int openUpload(const QString &path, QFile *file, QString *name)
{
    const QString odd = notAFile(path);
    if (!odd.isEmpty())
        return fail(ExitUsage, odd);
    file->setFileName(path);
    if (!file->open(QIODevice::ReadOnly))
        return fail(ExitUsage, QStringLiteral("cannot read %1: %2").arg(path, file->errorString()));
    if (file->size() == 0)
        return fail(ExitUsage, QStringLiteral("%1 is empty: the panel takes no empty files").arg(path));
    if (file->size() > INT_MAX)
        return fail(ExitUsage, QStringLiteral("%1 is too large: the panel takes files under 2 GiB").arg(path));
    if (name->isEmpty())
        *name = QFileInfo(path).fileName();
    QString problem;
    if (name->isEmpty()
        || !checkFrameText(QStringLiteral("the name on the panel"), name->toLocal8Bit(), MaxNameBytes, &problem))
        return fail(ExitUsage, problem.isEmpty() ? QStringLiteral("no name for the file") : problem);
    return ExitOk;
}

int startFailure(Session &s, UploadStart start, const QByteArray &seen, const QString &name, int ms)
{
    switch (start) {
    case UploadStart::Started:
        return ExitOk;
    case UploadStart::Refused:
        return fail(ExitRefused,
                    QStringLiteral("the panel refused the upload of %1 (answer: \"%2\")").arg(name, printable(seen)));
    case UploadStart::NotOpened:
        return fail(ExitRefused, QStringLiteral("the panel could not create the file %1").arg(name));
    case UploadStart::NoAnswer:
    case UploadStart::Broken:
        break;
    }
    return s.linkFailure(start == UploadStart::Broken ? Link::Broken : Link::TimedOut,
                         QStringLiteral("the panel to take the upload"), ms);
}

TransferTiming timingFor(const Session &s, qint64 size)
{
    TransferTiming t;
    t.answerMs = s.deadlineMs(t.answerMs);
    // The panel reads an upgrade package back through MD5 before it answers
    // the EOT; allow a slow panel a second per MiB on top.
    t.endMs = s.deadlineMs(t.endMs + static_cast<int>(size / 1024));
    return t;
}

} // namespace

int uploadCommand(Session &s, const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption nameOption(QStringLiteral("name"), QString(), QStringLiteral("NAME"));
    if (!parseCommandLine(parser, args, { nameOption }) || parser.positionalArguments().size() != 1)
        return fail(ExitUsage, QStringLiteral("usage: upload FILE [--name NAME]"));
    const QString path = parser.positionalArguments().at(0);
    QString name = parser.value(nameOption);
    QFile file;
    int rc = openUpload(path, &file, &name);
    if (rc == ExitOk)
        rc = s.open();
    if (rc != ExitOk)
        return rc;

    const qint64 size = file.size();
    const QByteArray frame = "#LOAD<" + name.toLocal8Bit() + ">" + QByteArray::number(size) + "#";
    QByteArray seen;
    const int ms = s.deadlineMs(AnswerMs);
    const UploadStart start = startUpload(s.link(), frame, "<LOAD:ACK>", QDeadlineTimer(ms), &seen);
    if (start != UploadStart::Started)
        return startFailure(s, start, seen, name, ms);

    Progress progress(QStringLiteral("upload"), size);
    const TransferOutcome o
        = sendFile(s.link(), file, size, timingFor(s, size), [&progress](qint64 n) { progress.update(n); });
    progress.finish();
    if (o.kind != TransferOutcome::Done)
        return transferFailure(s, o, QString());
    out(QStringLiteral("Uploaded %1 as %2: %3 bytes in %4 s (%5).")
            .arg(path, name)
            .arg(size)
            .arg(progress.seconds(), 0, 'f', 2)
            .arg(rate(size, progress.seconds())));
    return ExitOk;
}

int upgradeCommand(Session &s, const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption forceOption(QStringLiteral("force"));
    if (!parseCommandLine(parser, args, { forceOption }) || parser.positionalArguments().size() != 1)
        return fail(ExitUsage, QStringLiteral("usage: upgrade PACKAGE [--force]"));
    const bool force = parser.isSet(forceOption);
    const QStringList rest = parser.positionalArguments();
    QFile file;
    QString name;
    int rc = openUpload(rest.at(0), &file, &name);
    if (rc == ExitOk)
        rc = s.open();
    if (rc != ExitOk)
        return rc;
    // A package the panel cannot install still costs it a reboot: check first.
    rc = checkPackageFile(&s, rest.at(0), true);
    if (rc == ExitUsage && !force)
        return fail(ExitUsage, QStringLiteral("%1 not sent; --force sends it all the same").arg(rest.at(0)));
    if (rc != ExitOk && rc != ExitUsage)
        return rc;
    QCryptographicHash md5(QCryptographicHash::Md5);
    if (!md5.addData(&file) || !file.seek(0))
        return fail(ExitUsage, QStringLiteral("cannot read %1: %2").arg(rest.at(0), file.errorString()));
    const QByteArray digest = md5.result().toHex();

    const qint64 size = file.size();
    const QByteArray frame = "#RTLD<" + name.toLocal8Bit() + ">[" + digest + "]" + QByteArray::number(size) + "#";
    if (frame.size() > MaxFrameSize)
        return fail(ExitUsage, QStringLiteral("the package name is too long"));
    QByteArray seen;
    const int ms = s.deadlineMs(AnswerMs);
    const UploadStart start = startUpload(s.link(), frame, "<RTLD:ACK>", QDeadlineTimer(ms), &seen);
    if (start == UploadStart::NotOpened)
        return fail(
            ExitRefused,
            QStringLiteral("the panel could not create the file %1 (%2); it reboots now").arg(name, printable(seen)));
    if (start != UploadStart::Started)
        return startFailure(s, start, seen, name, ms);

    Progress progress(QStringLiteral("upgrade"), size);
    const TransferTiming timing = timingFor(s, size);
    const TransferOutcome o = sendFile(s.link(), file, size, timing, [&progress](qint64 n) { progress.update(n); });
    progress.finish();
    if (o.kind != TransferOutcome::Done)
        return transferFailure(s, o, QStringLiteral("; the panel reboots without installing"));

    // The verdict follows the EOT's acknowledgement at once.
    const Link::Status st = s.link().waitForSize(10, QDeadlineTimer(timing.answerMs));
    const QByteArray verdict = s.link().buffer().left(10);
    if (st != Link::Ok)
        return s.linkFailure(st, QStringLiteral("the panel's verdict on the package"), timing.answerMs);
    s.link().trace('<', verdict);
    out(QStringLiteral("Sent %1 (%2 bytes, MD5 %3) in %4 s (%5); the panel checked it in %6 s.")
            .arg(name)
            .arg(size)
            .arg(QString::fromLatin1(digest))
            .arg(progress.seconds(), 0, 'f', 2)
            .arg(rate(size, progress.seconds()))
            .arg(o.endWaitMs / 1000.0, 0, 'f', 2));
    if (verdict == "<RTLD:NOR>") {
        out(QStringLiteral("<RTLD:NOR>: the package is intact; the panel now installs it and reboots."));
        return ExitOk;
    }
    if (verdict == "<RTLD:ERR>")
        return fail(ExitTransfer,
                    QStringLiteral("<RTLD:ERR>: the panel found the package damaged; it reboots without installing"));
    return fail(ExitNoAnswer, QStringLiteral("unexpected verdict on the package: \"%1\"").arg(printable(verdict)));
}

int downloadCommand(Session &s, const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption outOption(QStringLiteral("o"), QString(), QStringLiteral("OUT"));
    if (!parseCommandLine(parser, args, { outOption }) || parser.positionalArguments().size() != 1)
        return fail(ExitUsage, QStringLiteral("usage: download PATH [-o OUT]"));
    const QString path = parser.positionalArguments().at(0);
    QString target = parser.value(outOption);
    QString problem;
    if (path.isEmpty())
        return fail(ExitUsage, QStringLiteral("usage: download PATH [-o OUT]"));
    if (!checkFrameText(QStringLiteral("the path"), path.toLocal8Bit(), MaxFrameSize - 8, &problem))
        return fail(ExitUsage, problem);
    if (target.isEmpty())
        target = QFileInfo(path).fileName();
    if (target.isEmpty())
        return fail(ExitUsage, QStringLiteral("give the file to write with -o OUT"));

    // Written under a temporary name and put in place only when complete.
    QSaveFile sink(target);
    if (!sink.open(QIODevice::WriteOnly))
        return fail(ExitUsage, QStringLiteral("cannot write %1: %2").arg(target, sink.errorString()));
    int rc = s.open();
    QByteArray reply;
    const QByteArray frame = "#GETF<" + path.toLocal8Bit() + ">#";
    if (rc == ExitOk)
        rc = s.ask(frame, AnswerMs, &reply);
    if (rc != ExitOk)
        return rc;
    qint64 size;
    if (!parseFileSize(reply, &size))
        return fail(
            ExitNoAnswer,
            QStringLiteral("unexpected answer to %1: \"%2\"").arg(QString::fromLatin1(frame), printable(reply)));
    if (size < 0)
        return fail(ExitRefused, QStringLiteral("the panel cannot send %1 (no such file, or not readable)").arg(path));

    Progress progress(QStringLiteral("download"), size);
    const TransferOutcome o
        = receiveFile(s.link(), sink, size, timingFor(s, 0), [&progress](qint64 n) { progress.update(n); });
    progress.finish();
    if (o.kind != TransferOutcome::Done)
        return transferFailure(s, o, QString());
    if (!sink.commit())
        return fail(ExitUsage, QStringLiteral("cannot write %1: %2").arg(target, sink.errorString()));
    out(QStringLiteral("Downloaded %1 to %2: %3 bytes in %4 s (%5).")
            .arg(path, target)
            .arg(size)
            .arg(progress.seconds(), 0, 'f', 2)
            .arg(rate(size, progress.seconds())));
    return ExitOk;
}
