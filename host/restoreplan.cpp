// Reading a backup's configuration files the way the panel reads them, and
// turning each value into the command that sets it. Lines the panel would
// ignore or misread are reported, not guessed at.

#include "restoreplan.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

QList<QByteArray> fileLines(const QString &path, bool *exists)
{
    QFile f(path);
    *exists = f.open(QIODevice::ReadOnly);
    QList<QByteArray> lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QByteArray num(int v) { return QByteArray::number(v); }

// One line of sys_conf.txt; false when it is none the panel writes.
bool settingLine(const QByteArray &line, RestorePlan *plan)
{
    static const QRegularExpression form(QStringLiteral("^(BLK|DIO|PWM|ALM|COM|DIR|ORI)<(\\d+)>([ILHUYN]?)$"));
    const QRegularExpressionMatch m = form.match(QString::fromLatin1(line));
    if (!m.hasMatch())
        return false;
    const QString key = m.captured(1), letter = m.captured(3);
    const int n = m.captured(2).toInt();
    const QByteArray level = letter == QLatin1String("H") ? "<HI>" : "<LO>";
    if (key == QLatin1String("BLK") && letter.isEmpty() && n <= 100) {
        if (n == 0)
            plan->notRestored << QStringLiteral("backlight 0 %: the panel takes 1 to 100 from the host");
        else
            plan->steps.append({ "#BKLT<" + num(n) + ">#", {}, QStringLiteral("backlight %1 %").arg(n) });
    } else if (key == QLatin1String("DIO") && m.captured(2).size() == 2 && n <= 15 && !letter.isEmpty()
               && QStringLiteral("ILHU").contains(letter)) {
        const QByteArray how = letter == QLatin1String("I") ? "<IN>"
            : letter == QLatin1String("U")                  ? "<UNU><LO>"
                                                            : "<OUT>" + level;
        plan->steps.append(
            { "#DIGC<" + num(n) + ">" + how + "#", {}, QStringLiteral("digital channel %1 %2").arg(n).arg(letter) });
    } else if (key == QLatin1String("PWM") && n <= 3
               && (letter == QLatin1String("L") || letter == QLatin1String("H"))) {
        plan->steps.append({ "#PWMC<" + num(n) + "><" + (letter == QLatin1String("H") ? "1" : "0") + ">#",
                             {},
                             QStringLiteral("PWM %1 %2").arg(n).arg(letter) });
    } else if (key == QLatin1String("ALM") && m.captured(2).size() == 2 && (n == 1 || n == 2)
               && (letter == QLatin1String("L") || letter == QLatin1String("H"))) {
        plan->steps.append(
            { "#ALMC<" + num(n) + ">" + level + "#", {}, QStringLiteral("alarm %1 %2").arg(n).arg(letter) });
    } else if (key == QLatin1String("COM") && n == 0
               && (letter == QLatin1String("Y") || letter == QLatin1String("N"))) {
        if (letter == QLatin1String("Y")) // off is every panel's default
            plan->notRestored << QStringLiteral("COM port 0 on: no command of the panel sets it");
    } else if ((key == QLatin1String("DIR") || key == QLatin1String("ORI")) && letter.isEmpty() && n <= 1) {
        plan->steps.append(
            { (key == QLatin1String("DIR") ? "#DRPN<" : "#DORI<") + num(n) + ">#",
              {},
              QStringLiteral("%1 %2").arg(key == QLatin1String("DIR") ? "RS-485 direction" : "orientation").arg(n) });
    } else {
        return false;
    }
    return true;
}

} // namespace

RestorePlan planRestore(const QString &dir)
{
    RestorePlan plan;
    bool exists;
    const QList<QByteArray> name = fileLines(dir + QStringLiteral("/device_name.txt"), &exists);
    static const QRegularExpression nameForm(QStringLiteral("^NAM<([^#>]{0,40})>$"));
    const QRegularExpressionMatch nm = nameForm.match(QString::fromUtf8(name.value(0)));
    if (nm.hasMatch())
        plan.steps.append({ "#SNAM<" + nm.captured(1).toUtf8() + ">#", "<SNAM:NOR>",
                            QStringLiteral("name \"%1\"").arg(nm.captured(1)) });
    else if (exists && !name.isEmpty())
        plan.notRestored
            << QStringLiteral("device_name.txt line 1 skipped: \"%1\"").arg(QString::fromUtf8(name.value(0)));
    else
        plan.notRestored << QStringLiteral(
            "name: no device_name.txt; the panel keeps its own default, its serial number");

    const QList<QByteArray> conf = fileLines(dir + QStringLiteral("/sys_conf.txt"), &exists);
    if (!exists)
        plan.notRestored << QStringLiteral("outputs and display: no sys_conf.txt in %1").arg(dir);
    for (int i = 0; i < conf.size(); ++i)
        if (!conf.at(i).isEmpty() && !settingLine(conf.at(i), &plan))
            plan.notRestored << QStringLiteral("sys_conf.txt line %1 skipped: \"%2\"")
                                    .arg(i + 1)
                                    .arg(QString::fromLatin1(conf.at(i)));

    const QByteArray battery = fileLines(dir + QStringLiteral("/lowBatteryConf.txt"), &exists).value(0);
    if (battery == "CKB<0>" || battery == "CKB<1>")
        plan.steps.append({ "#CHBT<" + battery.mid(4, 1) + ">#", "<CHBT:NOR>",
                            QStringLiteral("battery check %1").arg(battery.at(4) == '1' ? "on" : "off") });
    else if (exists)
        plan.notRestored
            << QStringLiteral("lowBatteryConf.txt line 1 skipped: \"%1\"").arg(QString::fromLatin1(battery));

    QFile tz(dir + QStringLiteral("/timezone.cfg"));
    if (tz.open(QIODevice::ReadOnly)) {
        const QByteArray text = tz.readAll().trimmed();
        plan.timeZone = text.toInt(&plan.hasTimeZone);
        if (!plan.hasTimeZone || plan.timeZone < -720 || plan.timeZone > 720) {
            plan.hasTimeZone = false;
            plan.notRestored << QStringLiteral("timezone.cfg skipped: \"%1\" is no offset from -720 to 720")
                                    .arg(QString::fromLatin1(text.left(40)));
        }
    }
    const QDir fonts(dir + QStringLiteral("/fonts"));
    for (const QString &f : fonts.entryList(QDir::Files, QDir::Name))
        plan.fonts << fonts.filePath(f);
    const int projects = QDir(dir + QStringLiteral("/project")).entryList(QDir::Files).size();
    if (projects > 0)
        plan.notRestored << QStringLiteral("%1 project file(s): no command puts a file in the project directory; "
                                           "load the project from the designer")
                                .arg(projects);
    return plan;
}
