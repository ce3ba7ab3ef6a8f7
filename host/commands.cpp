// The tool's subcommands that are one frame and its reply (or a short series
// of them), and the table that finds a subcommand by name.

#include "commands.h"

#include "replies.h"

#include <QDateTime>

using hostlink::printable;
#include <cstdio>

namespace {

// A command line or sync may take the panel 30 s to start and 30 s to end.
constexpr int ProcessMs = 65000;

int unexpected(const QByteArray &frame, const QByteArray &reply)
{
    return fail(ExitNoAnswer,
                QStringLiteral("unexpected answer to %1: \"%2\"").arg(QString::fromLatin1(frame), printable(reply)));
}

bool toInt(const QString &text, int min, int max, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= min && *value <= max;
}

// Sends a frame whose handling answers with nothing but LF CR.
int askSilent(Session &s, const QByteArray &frame)
{
    QByteArray reply;
    int rc = s.ask(frame, AnswerMs, &reply);
    if (rc != ExitOk)
        return rc;
    return reply.isEmpty() ? ExitOk : unexpected(frame, reply);
}

// Sends a frame answered by one of two fixed tags.
int askOutcome(Session &s, const QByteArray &frame, int defaultMs, const QByteArray &good, const QByteArray &bad,
               const QString &refusal)
{
    QByteArray reply;
    int rc = s.ask(frame, defaultMs, &reply);
    if (rc != ExitOk)
        return rc;
    if (reply == good)
        return ExitOk;
    if (reply.startsWith(bad))
        return fail(ExitRefused, QStringLiteral("%1 (%2)").arg(refusal, QString::fromLatin1(reply)));
    return unexpected(frame, reply);
}

int infoCommand(Session &s, const QStringList &args)
{
    if (!args.isEmpty())
        return fail(ExitUsage, QStringLiteral("info takes no arguments"));
    QList<ReportRow> rows;
    int rc = s.open();
    if (rc == ExitOk)
        rc = s.askReport(&rows);
    if (rc != ExitOk)
        return rc;
    out(QStringLiteral("%1  %2  %3")
            .arg(QStringLiteral("Tag"), -6)
            .arg(QStringLiteral("Meaning"), -30)
            .arg(QStringLiteral("Value")));
    for (const ReportRow &row : rows)
        out(QStringLiteral("%1  %2  %3").arg(row.tag, -6).arg(row.meaning, -30).arg(row.value));
    return ExitOk;
}

int timeCommand(Session &s, const QStringList &args)
{
    const QDateTime now = QDateTime::currentDateTime();
    int offset = now.offsetFromUtc() / 60;
    QCommandLineParser parser;
    const QCommandLineOption tz(QStringLiteral("tz"), QString(), QStringLiteral("MINUTES"));
    if (!parseCommandLine(parser, args, { tz }) || !parser.positionalArguments().isEmpty())
        return fail(ExitUsage, QStringLiteral("usage: time [--tz MINUTES]"));
    if (parser.isSet(tz) && !toInt(parser.value(tz), -720, 720, &offset))
        return fail(ExitUsage, QStringLiteral("--tz takes minutes from -720 to 720"));
    int rc = s.open();
    if (rc != ExitOk)
        return rc;
    // The panel's form: date, time with milliseconds, offset in minutes.
    const QByteArray text
        = now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz")).toLatin1() + ' ' + QByteArray::number(offset);
    rc = askOutcome(s, "#DTIM<" + text + ">#", AnswerMs, "<DTIM:NOR>", "<DTIM:ERR>",
                    QStringLiteral("the panel did not take the date and time"));
    if (rc == ExitOk)
        out(QStringLiteral("Panel clock set to %1, time zone offset %2 min.")
                .arg(now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
                .arg(offset));
    return rc;
}

int tzCommand(Session &s, const QStringList &args)
{
    if (!args.isEmpty())
        return fail(ExitUsage, QStringLiteral("tz takes no arguments"));
    int rc = s.open();
    QByteArray reply;
    if (rc == ExitOk)
        rc = s.ask("#SLTZ#", AnswerMs, &reply);
    if (rc != ExitOk)
        return rc;
    int minutes;
    if (!parseTimeZone(reply, &minutes))
        return unexpected("#SLTZ#", reply);
    out(QStringLiteral("Time zone offset: %1 min").arg(minutes));
    return ExitOk;
}

int execCommand(Session &s, const QStringList &args)
{
    const QByteArray line = args.join(QLatin1Char(' ')).toLocal8Bit();
    QString problem;
    if (line.trimmed().isEmpty())
        return fail(ExitUsage, QStringLiteral("usage: exec COMMAND [ARGUMENT...]"));
    const QByteArray frame = "#UNIX<" + line + ">#";
    if (!checkFrameText(QStringLiteral("the command"), line, MaxFrameSize - 8, &problem))
        return fail(ExitUsage, problem);
    int rc = s.open();
    QByteArray reply;
    if (rc == ExitOk)
        rc = s.ask(frame, ProcessMs, &reply);
    if (rc != ExitOk)
        return rc;
    if (reply == "<UNIX:NOR>") {
        out(QStringLiteral("The command ended with exit code 0."));
        return ExitOk;
    }
    if (reply == "<UNIX:ERR>")
        return fail(ExitRefused, QStringLiteral("the command ended with a non-zero exit code (<UNIX:ERR>)"));
    if (reply.isEmpty())
        return fail(ExitRefused, QStringLiteral("the command did not start, or did not end within 30 s"));
    return unexpected(frame, reply);
}

int simpleCommand(Session &s, const QStringList &args, const char *name, const QByteArray &frame, int ms,
                  const QByteArray &good, const QByteArray &bad, const QString &refusal, const QString &done)
{
    if (!args.isEmpty())
        return fail(ExitUsage, QStringLiteral("%1 takes no arguments").arg(QLatin1String(name)));
    int rc = s.open();
    if (rc == ExitOk)
        rc = askOutcome(s, frame, ms, good, bad, refusal);
    if (rc == ExitOk)
        out(done);
    return rc;
}

int cpuIdCommand(Session &s, const QStringList &args)
{
    if (!args.isEmpty())
        return fail(ExitUsage, QStringLiteral("cpu-id takes no arguments"));
    int rc = s.open();
    QByteArray reply;
    if (rc == ExitOk)
        rc = s.ask("#CPUI#", AnswerMs, &reply);
    if (rc != ExitOk)
        return rc;
    if (reply.isEmpty())
        return fail(ExitRefused, QStringLiteral("the panel could not read its CPU identity"));
    QString id;
    if (!parseCpuId(reply, &id))
        return unexpected("#CPUI#", reply);
    out(id);
    return ExitOk;
}

int projectsCommand(Session &s, const QStringList &args)
{
    if (!args.isEmpty())
        return fail(ExitUsage, QStringLiteral("projects takes no arguments"));
    int rc = s.open();
    QByteArray reply;
    if (rc == ExitOk)
        rc = s.ask("#GPFL#", AnswerMs, &reply);
    if (rc != ExitOk)
        return rc;
    QStringList names;
    if (!parseProjectList(reply, &names))
        return unexpected("#GPFL#", reply);
    for (const QString &name : names)
        out(name);
    return ExitOk;
}

int fontsCommand(Session &s, const QStringList &args)
{
    if (!args.isEmpty())
        return fail(ExitUsage, QStringLiteral("fonts takes no arguments"));
    int rc = s.open();
    QByteArray reply;
    if (rc == ExitOk)
        rc = s.ask("#GFFS#", AnswerMs, &reply);
    if (rc != ExitOk)
        return rc;
    QStringList user, system;
    if (!parseFontList(reply, &user, &system))
        return unexpected("#GFFS#", reply);
    for (const QString &family : user)
        out(QStringLiteral("user    %1").arg(family));
    for (const QString &family : system)
        out(QStringLiteral("system  %1").arg(family));
    return ExitOk;
}

int removeFontsCommand(Session &s, const QStringList &args)
{
    if (args.isEmpty())
        return fail(ExitUsage, QStringLiteral("usage: remove-fonts FAMILY..."));
    if (args.size() > 1000)
        return fail(ExitUsage, QStringLiteral("at most 1000 families at a time"));
    QList<QByteArray> frames;
    QStringList names = args;
    names << QStringLiteral("END"); // the panel's end of the list
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray family = names.at(i).toUtf8();
        QString problem;
        if ((i + 1 < names.size() && family == "END") || family.isEmpty())
            return fail(ExitUsage, QStringLiteral("\"%1\" cannot be a family name here").arg(names.at(i)));
        const QByteArray frame = "#RMFS<" + QByteArray::number(i) + "><" + family + ">#";
        if (!checkFrameText(QStringLiteral("a family name"), family, -1, &problem))
            return fail(ExitUsage, problem);
        if (frame.size() > MaxFrameSize)
            return fail(ExitUsage, QStringLiteral("the family name %1 is too long").arg(names.at(i)));
        frames << frame;
    }
    int rc = s.open();
    for (int i = 0; rc == ExitOk && i < frames.size(); ++i)
        rc = askOutcome(s, frames.at(i), AnswerMs, "<RMFS_ACK>", "<RMFS_NAK>",
                        QStringLiteral("the panel refused the family %1").arg(names.at(i)));
    if (rc == ExitOk)
        out(QStringLiteral("The panel lists %1 font famil%2 for removal.")
                .arg(args.size())
                .arg(args.size() == 1 ? "y" : "ies"));
    return rc;
}

// set WHAT VALUE...: builds the frame, or says why it cannot.
bool settingFrame(const QStringList &args, QByteArray *frame, QByteArray *good, QString *problem)
{
    const QString what = args.value(0);
    const QStringList v = args.mid(1);
    int a, b;
    auto level = [](const QString &t) -> QByteArray {
        const QString l = t.toLower();
        return l == QLatin1String("hi") || l == QLatin1String("on") || l == QLatin1String("1") ? "<HI>"
            : l == QLatin1String("lo") || l == QLatin1String("off") || l == QLatin1String("0") ? "<LO>"
                                                                                               : QByteArray();
    };
    if (what == QLatin1String("name") && v.size() == 1) {
        const QByteArray name = v.at(0).toUtf8();
        if (!checkFrameText(QStringLiteral("the name"), name, MaxFrameSize - 8, problem))
            return false;
        *frame = "#SNAM<" + name + ">#";
        *good = "<SNAM:NOR>";
        return true;
    }
    if (what == QLatin1String("backlight") && v.size() == 1) {
        if (!toInt(v.at(0), 1, 100, &a)) {
            *problem = QStringLiteral("the backlight takes a percentage from 1 to 100");
            return false;
        }
        *frame = "#BKLT<" + QByteArray::number(a) + ">#";
        return true;
    }
    if (what == QLatin1String("dio") && (v.size() == 2 || v.size() == 3)) {
        const QString dir = v.at(1).toLower();
        const QByteArray lv = v.size() == 3 ? level(v.at(2)) : QByteArray("<LO>");
        if (!toInt(v.at(0), 0, 15, &a) || lv.isEmpty()
            || !(dir == QLatin1String("in") || dir == QLatin1String("out") || dir == QLatin1String("unused"))
            || (dir == QLatin1String("in") && v.size() == 3) || (dir == QLatin1String("out") && v.size() != 3)) {
            *problem = QStringLiteral("usage: set dio CHANNEL(0-15) in | out hi|lo | unused [hi|lo]");
            return false;
        }
        *frame = "#DIGC<" + QByteArray::number(a) + ">";
        *frame += dir == QLatin1String("in") ? "<IN>#" : (dir == QLatin1String("out") ? "<OUT>" : "<UNU>") + lv + "#";
        return true;
    }
    if (what == QLatin1String("pwm") && v.size() == 2) {
        if (!toInt(v.at(0), 0, 3, &a) || !toInt(v.at(1), 0, 255, &b)) {
            *problem = QStringLiteral("usage: set pwm CHANNEL(0-3) VALUE(0-255)");
            return false;
        }
        *frame = "#PWMC<" + QByteArray::number(a) + "><" + QByteArray::number(b) + ">#";
        return true;
    }
    if (what == QLatin1String("alarm") && v.size() == 2) {
        if (!toInt(v.at(0), 1, 2, &a) || level(v.at(1)).isEmpty()) {
            *problem = QStringLiteral("usage: set alarm OUTPUT(1-2) hi|lo");
            return false;
        }
        *frame = "#ALMC<" + QByteArray::number(a) + ">" + level(v.at(1)) + "#";
        return true;
    }
    if ((what == QLatin1String("orientation") || what == QLatin1String("rs485")) && v.size() == 1) {
        if (!toInt(v.at(0), 0, 1, &a)) {
            *problem = QStringLiteral("usage: set %1 0|1").arg(what);
            return false;
        }
        *frame = (what == QLatin1String("orientation") ? "#DORI<" : "#DRPN<") + QByteArray::number(a) + ">#";
        return true;
    }
    if (what == QLatin1String("battery-check") && v.size() == 1) {
        const QByteArray lv = level(v.at(0));
        if (lv.isEmpty()) {
            *problem = QStringLiteral("usage: set battery-check on|off");
            return false;
        }
        *frame = lv == "<HI>" ? "#CHBT<1>#" : "#CHBT<0>#";
        *good = "<CHBT:NOR>";
        return true;
    }
    *problem = QStringLiteral("usage: set name TEXT | backlight PERCENT | dio CHANNEL in|out|unused [hi|lo] | "
                              "pwm CHANNEL VALUE | alarm OUTPUT hi|lo | orientation 0|1 | rs485 0|1 | "
                              "battery-check on|off");
    return false;
}

int setCommand(Session &s, const QStringList &args)
{
    QByteArray frame, good;
    QString problem;
    if (!settingFrame(args, &frame, &good, &problem))
        return fail(ExitUsage, problem);
    int rc = s.open();
    if (rc != ExitOk)
        return rc;
    if (good.isEmpty())
        rc = askSilent(s, frame);
    else
        rc = askOutcome(s, frame, AnswerMs, good, good.left(6) + "ERR>",
                        QStringLiteral("the panel refused the setting"));
    if (rc == ExitOk)
        out(QStringLiteral("Set %1.").arg(args.join(QLatin1Char(' '))));
    return rc;
}

int rawCommand(Session &s, const QStringList &args)
{
    if (args.size() != 1)
        return fail(ExitUsage, QStringLiteral("usage: raw FRAME   (for example raw '#HWCF#')"));
    QByteArray frame = args.at(0).toLocal8Bit();
    if (!frame.startsWith('#'))
        frame = '#' + frame + '#';
    if (frame.size() < 3 || frame.size() > MaxFrameSize || frame.indexOf('#', 1) != frame.size() - 1)
        return fail(ExitUsage,
                    QStringLiteral("a frame is '#', a command word and its parameters, and '#', "
                                   "at most 256 bytes"));
    int rc = s.open();
    QByteArray reply;
    if (rc == ExitOk)
        rc = s.ask(frame, AnswerMs, &reply);
    if (rc == ExitOk)
        out(printable(reply));
    return rc;
}

using Handler = int (*)(Session &, const QStringList &);

struct Entry
{
    const char *name;
    Handler handler;
};

int syncCommand(Session &s, const QStringList &args)
{
    return simpleCommand(s, args, "sync", "#SYNC#", ProcessMs, "<SYNC:NOR>", "<SYNC:ERR>",
                         QStringLiteral("the panel could not synchronise its file systems"),
                         QStringLiteral("File systems synchronised."));
}

int saveCommand(Session &s, const QStringList &args)
{
    return simpleCommand(s, args, "save", "#SVCF#", AnswerMs, "<SVCF:NOR>", "<SVCF:ERR>",
                         QStringLiteral("the panel could not save its configuration"),
                         QStringLiteral("Configuration saved; the panel's Reboot button is enabled."));
}

const Entry entries[] = {
    { "info", infoCommand },
    { "upload", uploadCommand },
    { "upgrade", upgradeCommand },
    { "package", packageCommand },
    { "check", checkCommand },
    { "backup", backupCommand },
    { "restore", restoreCommand },
    { "download", downloadCommand },
    { "time", timeCommand },
    { "tz", tzCommand },
    { "exec", execCommand },
    { "sync", syncCommand },
    { "save", saveCommand },
    { "cpu-id", cpuIdCommand },
    { "projects", projectsCommand },
    { "fonts", fontsCommand },
    { "remove-fonts", removeFontsCommand },
    { "set", setCommand },
    { "raw", rawCommand },
};

} // namespace

int runCommand(const HostOptions &options, const QString &name, const QStringList &args)
{
    for (const Entry &e : entries) {
        if (name != QLatin1String(e.name))
            continue;
        // exec's arguments are the panel's, unless --help is all there is.
        if (args.size() == 1 && (args.at(0) == QLatin1String("--help") || args.at(0) == QLatin1String("-h"))) {
            fputs(commandHelp(name).toLocal8Bit().constData(), stdout);
            return ExitOk;
        }
        Session session(options);
        return e.handler(session, args);
    }
    return fail(ExitUsage, QStringLiteral("unknown command \"%1\" (see kvx-host --help)").arg(name));
}

QStringList commandNames()
{
    QStringList names;
    for (const Entry &e : entries)
        names << QLatin1String(e.name);
    return names;
}
