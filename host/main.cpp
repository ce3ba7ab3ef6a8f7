// kvx-host: the PC side of a panel recovery. Global options come before the
// command; everything after the command's name is the command's own, so a
// command line given to `exec` keeps its options.

#include "commands.h"
#include "station.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {

// Runs the command: on one panel alone as ever (its output as it is), or as
// a station command on its targets.
int dispatch(StationOptions options, const QStringList &rest)
{
    const QString &command = rest.at(0);
    if (!options.targets.many() && !isStationCommand(command) && options.report.isEmpty() && options.logDir.isEmpty())
        return runCommand(options.host, command, rest.mid(1));
    if (!isStationCommand(command) && !commandNames().contains(command))
        return fail(ExitUsage, QStringLiteral("unknown command \"%1\" (see kvx-host --help)").arg(command));
    if (command != QLatin1String("devices") && !options.targets.many() && options.targets.ports.isEmpty())
        options.targets.ports << options.host.device;
    return stationCommand(options, command, rest.mid(1));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help({ "h", "help" }, QString());
    const QCommandLineOption verbose({ "v", "verbose" }, QString());
    const QCommandLineOption port({ "p", "port" }, QString(), QStringLiteral("DEVICE"));
    const QCommandLineOption timeout({ "t", "timeout" }, QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption all(QStringLiteral("all"), QString());
    const QCommandLineOption serial(QStringLiteral("serial"), QString(), QStringLiteral("PREFIX"));
    const QCommandLineOption usbId(QStringLiteral("usb-id"), QString(), QStringLiteral("VID:PID"));
    const QCommandLineOption ports(QStringLiteral("ports"), QString(), QStringLiteral("GLOB"));
    const QCommandLineOption report(QStringLiteral("report"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption logDir(QStringLiteral("log-dir"), QString(), QStringLiteral("DIR"));
    parser.addOptions({ help, verbose, port, timeout, all, serial, usbId, ports, report, logDir });
    if (!parser.parse(app.arguments())) {
        const QString unknown = parser.unknownOptionNames().value(0);
        if (unknown.isEmpty())
            return fail(ExitUsage, QStringLiteral("%1 (see kvx-host --help)").arg(parser.errorText()));
        return fail(
            ExitUsage,
            QStringLiteral("unknown option %1%2 (see kvx-host --help)").arg(unknown.size() == 1 ? "-" : "--", unknown));
    }
    if (parser.isSet(help)) {
        fputs(usageText().toLocal8Bit().constData(), stdout);
        return ExitOk;
    }
    StationOptions options;
    options.host.verbose = parser.isSet(verbose);
    options.targets.ports = parser.values(port);
    if (options.targets.ports.size() == 1)
        options.host.device = options.targets.ports.at(0);
    options.host.deviceGiven = parser.isSet(port);
    if (parser.isSet(timeout)) {
        bool ok = false;
        const double seconds = parser.value(timeout).toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 24 * 3600)
            return fail(ExitUsage, QStringLiteral("-t takes a number of seconds"));
        options.host.timeoutMs = static_cast<int>(seconds * 1000);
    }
    options.targets.all = parser.isSet(all);
    options.targets.serialPrefix = parser.value(serial);
    options.targets.portsGlob = parser.value(ports);
    if (parser.isSet(usbId) && !parseUsbId(parser.value(usbId), &options.targets.vendorId, &options.targets.productId))
        return fail(ExitUsage, QStringLiteral("--usb-id takes VID:PID in hexadecimal, for example 0525:a4a7"));
    options.report = parser.value(report);
    options.logDir = parser.value(logDir);

    const QStringList rest = parser.positionalArguments();
    if (rest.isEmpty()) {
        fputs(usageText().toLocal8Bit().constData(), stderr);
        return ExitUsage;
    }
    return dispatch(options, rest);
}
