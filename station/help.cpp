// What `devices --help`, `run --help` and `watch --help` print: the station
// commands and the recipe format.

#include "station.h"

namespace {

QString devicesHelp()
{
    return QStringLiteral("usage: kvx-host [--usb-id VID:PID | --ports GLOB | -p PORT...] [--serial PREFIX] devices\n"
                          "\n"
                          "Lists every panel that answers: port, serial number, model, firmware version\n"
                          "and device name. Each candidate port gets one read-only hardware report\n"
                          "request (HWCF), all at once, within 2 s (or -t). Candidates are the serial\n"
                          "ports with the USB ids of the panel's gadget serial function (0525:a4a7\n"
                          "unless --usb-id says otherwise), or the files --ports matches. The exit\n"
                          "code is 2 when no panel answered.\n");
}

// The recipe, values and report formats, for run and watch alike.
QString formatHelp()
{
    return QStringLiteral("\n"
                          "TARGETS: -p PORT (repeatable), --all (every panel found), --serial PREFIX\n"
                          "(those whose serial number starts with it), --usb-id VID:PID, --ports GLOB.\n"
                          "\n"
                          "The recipe: one kvx-host command per line, without `kvx-host` and its global\n"
                          "options, quoted as on a shell command line ('single', \"double\", \\x).\n"
                          "A line starting with // is a comment ('#' starts raw frames). Values per panel,\n"
                          "outside single quotes: ${serial} ${model} ${port} ${index} (1, 2, ... in the\n"
                          "order found), and any column of the --values CSV file, whose line is the one\n"
                          "with the panel's serial number in its \"serial\" column. Besides the commands\n"
                          "of kvx-host --help (but package), `check TAG VALUE` fails the panel unless\n"
                          "its hardware report shows VALUE for TAG (`check PACKAGE` stays the package\n"
                          "check). `upgrade` must be the last line (the panel reboots). A download\n"
                          "wants a file per panel: -o \"conf-${serial}.txt\". Example:\n"
                          "\n"
                          "    // line 3 panels\n"
                          "    set name \"${name}\"\n"
                          "    time\n"
                          "    upload splash.png --name splash.png\n"
                          "    save\n"
                          "    check DEVNAM \"${name}\"\n"
                          "\n"
                          "The values file: CSV, a header line naming the columns (one of them\n"
                          "\"serial\"), then one line per panel; a field in double quotes may hold\n"
                          "commas and \"\" for a quote, and ends on its own line. For example:\n"
                          "\n"
                          "    serial,name\n"
                          "    0214000510000001,\"Press 1, bay A\"\n"
                          "\n"
                          "Before anything is sent the whole recipe is checked for every panel: its\n"
                          "syntax, every local file readable, every value present. A fault anywhere\n"
                          "sends nothing to any panel. --dry-run stops after this check.\n"
                          "\n"
                          "--report FILE (.json or .csv): per panel its port, serial number, model,\n"
                          "firmware, every step with outcome, bytes and seconds, and its result.\n"
                          "--log-dir DIR: each panel's exchange in DIR/SERIAL.log.\n");
}

} // namespace

QString recipeHelp(const QString &command)
{
    if (command == QLatin1String("devices"))
        return devicesHelp();
    const bool watch = command == QLatin1String("watch");
    const QString text = watch
        ? QStringLiteral(
            "usage: kvx-host [TARGETS] [--report FILE] [--log-dir DIR] watch RECIPE [--values FILE] [--dry-run]\n"
            "\n"
            "Waits for panels to appear (a look every second) and runs RECIPE on each new\n"
            "one as soon as it answers, never twice on the same serial number: a panel\n"
            "whose recipe succeeded is left alone for the rest of the watch; one that\n"
            "failed runs again once it was disconnected and connected again. Shows the\n"
            "running count of done and failed panels and adds each panel to the report\n"
            "as it ends. Ctrl-C stops after the running recipes end; a second Ctrl-C\n"
            "stops at once.\n")
        : QStringLiteral(
            "usage: kvx-host [TARGETS] [--report FILE] [--log-dir DIR] run RECIPE [--values FILE] [--dry-run]\n"
            "\n"
            "Runs RECIPE on every target panel at once, each on its own thread. A panel\n"
            "that fails stops its own recipe only. The exit code is 0 only when every\n"
            "panel succeeded.\n");
    return text + formatHelp();
}
