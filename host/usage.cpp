// The tool's usage text, each command's part of it for --help, and the
// parsing of a command's own options.

#include "commands.h"

bool parseCommandLine(QCommandLineParser &parser, const QStringList &args, const QList<QCommandLineOption> &options)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(options);
    return parser.parse(QStringList { QStringLiteral("kvx-host") } + args);
}

// A command's lines of the usage text: its synopsis after the global
// options, and what it does (the text from column 31 on).
QString commandHelp(const QString &name)
{
    QString synopsis = QStringLiteral("usage: kvx-host [-p DEVICE] [-t SECONDS] [-v]"), what;
    bool inside = false;
    for (const QString &line : usageText().split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("  ") + name + QLatin1Char(' ')))
            inside = true;
        else if (!line.startsWith(QLatin1String("   ")))
            inside = false;
        const bool twoColumns = line.midRef(28, 3) == QLatin1String("   ");
        if (inside) {
            synopsis += QLatin1Char(' ') + (twoColumns ? line.left(31) : line).simplified();
            what += QLatin1Char(' ') + (twoColumns ? line.mid(31) : QString());
        }
    }
    return synopsis.simplified() + QLatin1Char('\n')
        + (what.simplified().isEmpty() ? QString() : QLatin1Char('\n') + what.simplified() + QLatin1Char('\n'));
}

QString usageText()
{
    return QStringLiteral("usage: kvx-host [-p DEVICE]... [TARGETS] [-t SECONDS] [-v] COMMAND [ARGUMENTS]\n"
                          "\n"
                          "Talks to an operator panel in recovery mode over its USB serial port.\n"
                          "\n"
                          "  -p, --port DEVICE    the panel's serial device (default /dev/ttyACM0)\n"
                          "  -t, --timeout SECS   wait at most this long for each answer\n"
                          "  -v, --verbose        show the frames and replies on standard error\n"
                          "\n"
                          "many panels at once (see kvx-host run --help):\n"
                          "  -p DEVICE            given more than once: each of them\n"
                          "  --all                every panel found\n"
                          "  --serial PREFIX      the panels whose serial number starts with PREFIX\n"
                          "  --usb-id VID:PID     find panels by these USB ids (default 0525:a4a7)\n"
                          "  --ports GLOB         find panels on the ports matching GLOB instead\n"
                          "  --report FILE        what was done, per panel (.json or .csv)\n"
                          "  --log-dir DIR        each panel's exchange in DIR/SERIAL.log\n"
                          "\n"
                          "commands:\n"
                          "  info                         hardware report as a table\n"
                          "  upload FILE [--name NAME]    send a file (the panel keeps it in tmp/)\n"
                          "  package DIR -o NAME.tar.gz   build a firmware package from a directory\n"
                          "  check PACKAGE                check a package (with -p: against the panel's\n"
                          "                               free flash too)\n"
                          "  upgrade PACKAGE [--force]    check and send a firmware package; the panel\n"
                          "                               checks, installs it and reboots\n"
                          "  download PATH [-o OUT]       fetch a file from the panel\n"
                          "  backup DIR                   save the panel's configuration files, report,\n"
                          "                               project files and fonts in DIR/SERIAL\n"
                          "  restore DIR/SERIAL           apply a backup to the panel and save it\n"
                          "  time [--tz MINUTES]          set the panel's clock from this PC's local time\n"
                          "  tz                           show the panel's time zone offset\n"
                          "  exec COMMAND [ARG...]        run a command line on the panel\n"
                          "  sync                         flush the panel's file systems\n"
                          "  save                         save the panel's configuration\n"
                          "  cpu-id                       show the processor's identity\n"
                          "  projects                     list the project files\n"
                          "  fonts                        list the font families\n"
                          "  remove-fonts FAMILY...       list user font families for removal\n"
                          "  set name TEXT | backlight PERCENT | dio CHANNEL in|out|unused [hi|lo] |\n"
                          "      pwm CHANNEL VALUE | alarm OUTPUT hi|lo | orientation 0|1 |\n"
                          "      rs485 0|1 | battery-check on|off\n"
                          "  raw FRAME                    send any frame, show the reply\n"
                          "  devices                      list the panels connected\n"
                          "  run RECIPE [--values FILE] [--dry-run]\n"
                          "                               run a recipe of commands on the targets\n"
                          "  watch RECIPE [--values FILE] run it on each panel connected from now on\n"
                          "\n"
                          "exit codes: 0 done, 1 wrong arguments or local file, 2 device missing or\n"
                          "link broken, 3 no answer in time, 4 refused by the panel, 5 transfer failed\n");
}
