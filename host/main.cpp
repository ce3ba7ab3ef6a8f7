// kvx-host: the PC side of a panel recovery. Global options come before the
// command; everything after the command's name is the command's own, so a
// command line given to `exec` keeps its options.

#include "commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help({ "h", "help" }, QString());
    const QCommandLineOption verbose({ "v", "verbose" }, QString());
    const QCommandLineOption port({ "p", "port" }, QString(), QStringLiteral("DEVICE"));
    const QCommandLineOption timeout({ "t", "timeout" }, QString(), QStringLiteral("SECONDS"));
    parser.addOptions({ help, verbose, port, timeout });
    if (!parser.parse(app.arguments())) {
        const QString unknown = parser.unknownOptionNames().value(0);
        if (unknown.isEmpty())
            return fail(ExitUsage, QStringLiteral("%1 (see kvx-host --help)").arg(parser.errorText()));
        return fail(ExitUsage, QStringLiteral("unknown option %1%2 (see kvx-host --help)")
                                   .arg(unknown.size() == 1 ? "-" : "--", unknown));
    }
    if (parser.isSet(help)) {
        fputs(usageText().toLocal8Bit().constData(), stdout);
        return ExitOk;
    }
    HostOptions options;
    options.verbose = parser.isSet(verbose);
    if (parser.isSet(port))
        options.device = parser.value(port);
    if (parser.isSet(timeout)) {
        bool ok = false;
        const double seconds = parser.value(timeout).toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 24 * 3600)
            return fail(ExitUsage, QStringLiteral("-t takes a number of seconds"));
        options.timeoutMs = static_cast<int>(seconds * 1000);
    }
    const QStringList rest = parser.positionalArguments();
    if (rest.isEmpty()) {
        fputs(usageText().toLocal8Bit().constData(), stderr);
        return ExitUsage;
    }
    return runCommand(options, rest.at(0), rest.mid(1));
}
