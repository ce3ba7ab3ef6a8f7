// kvx-host: the PC side of a panel recovery. Global options come before the
// command, so a command line given to `exec` keeps its own options.

#include "commands.h"
#include "station.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

// Reads the option at args[*i] (and its value); false on an unknown one.
bool takeOption(const QStringList &args, int *i, StationOptions *o, QString *problem)
{
    const QString &a = args.at(*i);
    const bool hasValue = *i + 1 < args.size();
    if (a == QLatin1String("-v") || a == QLatin1String("--verbose")) {
        o->host.verbose = true;
    } else if (a == QLatin1String("--all")) {
        o->targets.all = true;
    } else if (!hasValue) {
        *problem = QStringLiteral("unknown option %1 (see kvx-host --help)").arg(a);
        return false;
    } else if (a == QLatin1String("-p") || a == QLatin1String("--port")) {
        o->targets.ports << args.at(++*i);
    } else if (a == QLatin1String("--serial")) {
        o->targets.serialPrefix = args.at(++*i);
    } else if (a == QLatin1String("--ports")) {
        o->targets.portsGlob = args.at(++*i);
    } else if (a == QLatin1String("--report")) {
        o->report = args.at(++*i);
    } else if (a == QLatin1String("--log-dir")) {
        o->logDir = args.at(++*i);
    } else if (a == QLatin1String("--usb-id")) {
        if (!parseUsbId(args.at(++*i), &o->targets.vendorId, &o->targets.productId))
            *problem = QStringLiteral("--usb-id takes VID:PID in hexadecimal, for example 0525:a4a7");
    } else if (a == QLatin1String("-t") || a == QLatin1String("--timeout")) {
        bool ok = false;
        const double seconds = args.at(++*i).toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 24 * 3600)
            *problem = QStringLiteral("-t takes a number of seconds");
        else
            o->host.timeoutMs = static_cast<int>(seconds * 1000);
    } else {
        *problem = QStringLiteral("unknown option %1 (see kvx-host --help)").arg(a);
    }
    return problem->isEmpty();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    StationOptions options;
    int i = 0;
    for (; i < args.size() && args.at(i).startsWith(QLatin1Char('-')); ++i) {
        if (args.at(i) == QLatin1String("-h") || args.at(i) == QLatin1String("--help")) {
            fputs(usageText().toLocal8Bit().constData(), stdout);
            return ExitOk;
        }
        QString problem;
        if (!takeOption(args, &i, &options, &problem))
            return fail(ExitUsage, problem);
    }
    if (i >= args.size()) {
        fputs(usageText().toLocal8Bit().constData(), stderr);
        return ExitUsage;
    }
    const QString &command = args.at(i);
    if (options.targets.ports.size() == 1)
        options.host.device = options.targets.ports.at(0);
    if (!options.targets.many() && !isStationCommand(command) && options.report.isEmpty() && options.logDir.isEmpty())
        return runCommand(options.host, command, args.mid(i + 1));
    if (command != QLatin1String("devices") && !options.targets.many() && options.targets.ports.isEmpty())
        options.targets.ports << options.host.device;
    if (!isStationCommand(command) && !commandNames().contains(command))
        return fail(ExitUsage, QStringLiteral("unknown command \"%1\" (see kvx-host --help)").arg(command));
    return stationCommand(options, command, args.mid(i + 1));
}
