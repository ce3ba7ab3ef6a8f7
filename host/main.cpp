// kvx-host: the PC side of a panel recovery. Global options come before the
// command, so a command line given to `exec` keeps its own options.

#include "commands.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    HostOptions options;
    int i = 0;
    for (; i < args.size() && args.at(i).startsWith(QLatin1Char('-')); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            fputs(usageText().toLocal8Bit().constData(), stdout);
            return ExitOk;
        }
        if (a == QLatin1String("-v") || a == QLatin1String("--verbose")) {
            options.verbose = true;
        } else if ((a == QLatin1String("-p") || a == QLatin1String("--port")) && i + 1 < args.size()) {
            options.device = args.at(++i);
            options.deviceGiven = true;
        } else if ((a == QLatin1String("-t") || a == QLatin1String("--timeout")) && i + 1 < args.size()) {
            bool ok = false;
            const double seconds = args.at(++i).toDouble(&ok);
            if (!ok || seconds <= 0 || seconds > 24 * 3600)
                return fail(ExitUsage, QStringLiteral("-t takes a number of seconds"));
            options.timeoutMs = static_cast<int>(seconds * 1000);
        } else {
            return fail(ExitUsage, QStringLiteral("unknown option %1 (see kvx-host --help)").arg(a));
        }
    }
    if (i >= args.size()) {
        fputs(usageText().toLocal8Bit().constData(), stderr);
        return ExitUsage;
    }
    return runCommand(options, args.at(i), args.mid(i + 1));
}
