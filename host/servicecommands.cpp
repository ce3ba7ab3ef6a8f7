// Cloning a panel for a service engineer: backup fetches a panel's
// configuration files, report, project files and user fonts; restore puts a
// backup onto another panel through the setting commands.

#include "commands.h"

#include "progress.h"
#include "replies.h"
#include "restoreplan.h"
#include "transfer.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <archive.h>
#include <archive_entry.h>
#include <memory>

using namespace hostlink;

namespace {

const char *const configFiles[] = { "sys_conf.txt", "device_name.txt", "lowBatteryConf.txt", "timezone.cfg" };
// The fonts travel as one archive that the panel's own tar makes.
const QByteArray fontArchive = "tmp/kvx-backup-fonts.tar.gz";

// Fetches a file with GETF; ExitRefused (quietly) when the panel has none.
int fetch(Session &s, const QByteArray &path, QByteArray *data)
{
    QByteArray reply;
    const QByteArray frame = "#GETF<" + path + ">#";
    int rc = s.ask(frame, AnswerMs, &reply);
    qint64 size;
    if (rc == ExitOk && !parseFileSize(reply, &size))
        rc = fail(ExitNoAnswer,
                  QStringLiteral("unexpected answer to %1: \"%2\"").arg(QString::fromLatin1(frame), printable(reply)));
    if (rc != ExitOk)
        return rc;
    if (size < 0)
        return ExitRefused;
    QBuffer sink(data);
    sink.open(QIODevice::WriteOnly);
    Progress progress(QString::fromLatin1(path), size);
    TransferTiming timing;
    timing.answerMs = s.deadlineMs(timing.answerMs);
    const TransferOutcome o = receiveFile(s.link(), sink, size, timing, [&progress](qint64 n) { progress.update(n); });
    progress.finish();
    if (o.kind != TransferOutcome::Done)
        return fail(o.kind == TransferOutcome::Broken ? ExitDevice : ExitTransfer,
                    QStringLiteral("download of %1 failed: %2").arg(QString::fromLatin1(path), o.message));
    if (data->size() != size)
        return fail(ExitTransfer,
                    QStringLiteral("%1: %2 bytes arrived, the panel announced %3")
                        .arg(QString::fromLatin1(path))
                        .arg(data->size())
                        .arg(size));
    return ExitOk;
}

int save(const QString &path, const QByteArray &data)
{
    QSaveFile f(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !f.open(QIODevice::WriteOnly) || f.write(data) != data.size()
        || !f.commit())
        return fail(ExitUsage, QStringLiteral("cannot write %1: %2").arg(path, f.errorString()));
    return ExitOk;
}

// Runs a command line on the panel; true for exit code 0.
bool run(Session &s, const QByteArray &line)
{
    QByteArray reply;
    return s.ask("#UNIX<" + line + ">#", 65000, &reply) == ExitOk && reply == "<UNIX:NOR>";
}

int backupFonts(Session &s, const QString &target)
{
    QByteArray archive;
    if (!run(s, "tar -czf " + fontArchive + " fonts")) {
        out(QStringLiteral("fonts: not saved (the panel could not pack its fonts directory)"));
        return ExitOk;
    }
    int rc = fetch(s, fontArchive, &archive);
    run(s, "rm -f " + fontArchive);
    if (rc != ExitOk)
        return rc == ExitRefused ? fail(rc, QStringLiteral("the panel packed its fonts but cannot send them")) : rc;
    std::unique_ptr<struct archive, decltype(&archive_read_free)> a(archive_read_new(), archive_read_free);
    archive_read_support_filter_gzip(a.get());
    archive_read_support_format_tar(a.get());
    if (archive_read_open_memory(a.get(), archive.constData(), static_cast<size_t>(archive.size())) != ARCHIVE_OK)
        return fail(ExitTransfer, QStringLiteral("the panel's font archive cannot be read"));
    int saved = 0;
    struct archive_entry *e;
    while ((rc = archive_read_next_header(a.get(), &e)) == ARCHIVE_OK) {
        const QString path = QString::fromUtf8(archive_entry_pathname(e));
        const QString name = path.mid(6); // after "fonts/"
        // Files of the fonts directory itself; its removal list is no font.
        if (!path.startsWith(QLatin1String("fonts/")) || name.isEmpty() || name.contains(QLatin1Char('/'))
            || name == QLatin1String("removal") || archive_entry_filetype(e) != AE_IFREG)
            continue;
        QByteArray data(static_cast<int>(qBound<la_int64_t>(0, archive_entry_size(e), 1 << 30)), '\0');
        if (archive_read_data(a.get(), data.data(), static_cast<size_t>(data.size())) != data.size())
            return fail(ExitTransfer, QStringLiteral("the panel's font archive is damaged at %1").arg(path));
        if ((rc = save(target + QStringLiteral("/fonts/") + name, data)) != ExitOk)
            return rc;
        ++saved;
    }
    if (rc != ARCHIVE_EOF)
        return fail(ExitTransfer,
                    QStringLiteral("the panel's font archive is damaged: %1")
                        .arg(QString::fromLocal8Bit(archive_error_string(a.get()))));
    out(QStringLiteral("fonts: %1 file(s)").arg(saved));
    return ExitOk;
}

int backupPanel(Session &s, const QString &dir)
{
    QList<ReportRow> rows;
    int rc = s.askReport(&rows);
    if (rc != ExitOk)
        return rc;
    const QString serial = rows.value(0).value;
    if (serial.isEmpty() || serial.contains(QLatin1Char('/')) || serial.startsWith(QLatin1Char('.')))
        return fail(ExitNoAnswer, QStringLiteral("the panel reports no usable serial number (\"%1\")").arg(serial));
    const QString target = dir + QLatin1Char('/') + serial;
    QByteArray report;
    for (const ReportRow &row : rows)
        report += row.tag.toUtf8() + '=' + row.value.toUtf8() + '\n';
    if ((rc = save(target + QStringLiteral("/hwcf.txt"), report)) != ExitOk)
        return rc;
    for (const char *name : configFiles) {
        QByteArray data;
        rc = fetch(s, name, &data);
        if (rc == ExitRefused)
            out(QStringLiteral("%1: not on the panel").arg(QLatin1String(name)));
        else if (rc != ExitOk || (rc = save(target + QLatin1Char('/') + QLatin1String(name), data)) != ExitOk)
            return rc;
    }
    QStringList projects;
    QByteArray reply;
    if ((rc = s.ask("#GPFL#", AnswerMs, &reply)) != ExitOk)
        return rc;
    if (!parseProjectList(reply, &projects))
        return fail(ExitNoAnswer, QStringLiteral("unexpected answer to #GPFL#: \"%1\"").arg(printable(reply)));
    for (const QString &name : projects) {
        QByteArray data;
        if ((rc = fetch(s, "qml/project/" + name.toUtf8(), &data)) != ExitOk
            || (rc = save(target + QStringLiteral("/project/") + name, data)) != ExitOk)
            return rc == ExitRefused ? fail(rc, QStringLiteral("the panel lists %1 but cannot send it").arg(name)) : rc;
    }
    out(QStringLiteral("project files: %1").arg(projects.size()));
    if ((rc = backupFonts(s, target)) == ExitOk)
        out(QStringLiteral("Backup of panel %1 in %2.").arg(serial, target));
    return rc;
}

} // namespace

int backupCommand(Session &s, const QStringList &args)
{
    if (args.size() != 1 || args.at(0).startsWith(QLatin1Char('-')))
        return fail(ExitUsage, QStringLiteral("usage: backup DIR"));
    const int rc = s.open();
    return rc != ExitOk ? rc : backupPanel(s, args.at(0));
}

namespace {

int uploadFont(Session &s, const QString &path)
{
    QFile file(path);
    const QByteArray name = QFileInfo(path).fileName().toUtf8();
    QString problem;
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0 || file.size() > 0x7fffffff)
        return fail(ExitUsage, QStringLiteral("font %1: cannot read it, or it is empty or too large").arg(path));
    if (!checkFrameText(QStringLiteral("the font's name"), name, 51, &problem))
        return fail(ExitUsage, problem);
    QByteArray seen;
    const int ms = s.deadlineMs(AnswerMs);
    const UploadStart start = startUpload(s.link(), "#LOAD<" + name + ">" + QByteArray::number(file.size()) + "#",
                                          "<LOAD:ACK>", QDeadlineTimer(ms), &seen);
    if (start != UploadStart::Started)
        return fail(ExitRefused,
                    QStringLiteral("the panel did not take the font %1 (\"%2\")").arg(path, printable(seen)));
    Progress progress(QString::fromUtf8(name), file.size());
    TransferTiming timing;
    timing.answerMs = s.deadlineMs(timing.answerMs);
    const TransferOutcome o
        = sendFile(s.link(), file, file.size(), timing, [&progress](qint64 n) { progress.update(n); });
    progress.finish();
    if (o.kind != TransferOutcome::Done)
        return fail(ExitTransfer, QStringLiteral("upload of the font %1 failed: %2").arg(path, o.message));
    out(QStringLiteral("font %1").arg(QString::fromUtf8(name)));
    return ExitOk;
}

} // namespace

int restoreCommand(Session &s, const QStringList &args)
{
    if (args.size() != 1 || args.at(0).startsWith(QLatin1Char('-')))
        return fail(ExitUsage, QStringLiteral("usage: restore DIR/SERIAL"));
    const QString &dir = args.at(0);
    if (!QFileInfo::exists(dir + QStringLiteral("/hwcf.txt")))
        return fail(ExitUsage, QStringLiteral("%1 is no backup of a panel (it has no hwcf.txt)").arg(dir));
    const RestorePlan plan = planRestore(dir);
    int rc = s.open();
    if (rc != ExitOk)
        return rc;
    int refused = 0;
    for (const RestoreStep &step : plan.steps) {
        QByteArray reply;
        if ((rc = s.ask(step.frame, AnswerMs, &reply)) != ExitOk)
            return rc;
        if (reply != step.reply) {
            ++refused;
            out(QStringLiteral("not restored: %1: the panel answered \"%2\"").arg(step.what, printable(reply)));
        } else {
            out(step.what);
        }
    }
    if (plan.hasTimeZone) {
        // Only the clock command carries the time zone: it sets both.
        QByteArray reply;
        const QByteArray now
            = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz")).toLatin1();
        if ((rc = s.ask("#DTIM<" + now + ' ' + QByteArray::number(plan.timeZone) + ">#", AnswerMs, &reply)) != ExitOk)
            return rc;
        refused += reply != "<DTIM:NOR>";
        out(reply == "<DTIM:NOR>"
                ? QStringLiteral("time zone %1 min, with the clock set from this PC").arg(plan.timeZone)
                : QStringLiteral("not restored: time zone %1 min: the panel answered \"%2\"")
                      .arg(plan.timeZone)
                      .arg(printable(reply)));
    }
    for (const QString &font : plan.fonts)
        if ((rc = uploadFont(s, font)) != ExitOk)
            return rc;
    for (const QString &note : plan.notRestored)
        out(QStringLiteral("not restored: %1").arg(note));
    QByteArray reply;
    if ((rc = s.ask("#SVCF#", AnswerMs, &reply)) != ExitOk)
        return rc;
    if (reply != "<SVCF:NOR>")
        return fail(ExitRefused,
                    QStringLiteral("the panel could not save the configuration (\"%1\")").arg(printable(reply)));
    out(QStringLiteral("Configuration saved on the panel."));
    return refused ? fail(ExitRefused, QStringLiteral("the panel refused %1 setting(s)").arg(refused)) : ExitOk;
}
