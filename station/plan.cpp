// Filling a recipe in for each panel and checking it before anything is sent.

#include "plan.h"

#include "commands.h"
#include "replies.h"

namespace {

// Keeps what a check-only run of a command says.
class CheckOutput : public OutputSink
{
public:
    QString lastError;
    void line(const QString &text, bool error) override
    {
        if (error)
            lastError = text;
    }
    void trace(const QString &) override { }
    void progress(qint64, qint64) override { }
};

// check TAG VALUE: the panel's hardware report must show VALUE for TAG.
int valueCheck(const HostOptions &options, const QStringList &args)
{
    if (args.size() != 2 || !isReportTag(args.at(0)))
        return fail(ExitUsage,
                    QStringLiteral("usage: check TAG VALUE, TAG one of the hardware report's "
                                   "(SER_NO, MODELS, FIRMWD, DEVNAM, ... as `info` shows them)"));
    Session s(options);
    QList<ReportRow> rows;
    int rc = s.open();
    if (rc == ExitOk)
        rc = s.askReport(&rows);
    if (rc != ExitOk)
        return rc;
    for (const ReportRow &row : rows) {
        if (row.tag != args.at(0))
            continue;
        if (row.value != args.at(1))
            return fail(ExitRefused, QStringLiteral("%1 is \"%2\", not \"%3\"").arg(row.tag, row.value, args.at(1)));
        out(QStringLiteral("%1 is \"%2\" as expected.").arg(row.tag, row.value));
    }
    return ExitOk;
}

} // namespace

QStringList recipeCommands()
{
    // package works on the PC alone; check is kvx-host's package check with
    // one argument and the value check with two.
    QStringList names = commandNames();
    names.removeAll(QStringLiteral("package"));
    return names;
}

QHash<QString, QString> panelValues(const PanelInfo &info, int index, const ValuesTable &values)
{
    QHash<QString, QString> v = values.rows.value(info.serial);
    v.insert(QStringLiteral("serial"), info.serial);
    v.insert(QStringLiteral("model"), info.model);
    v.insert(QStringLiteral("port"), info.port);
    v.insert(QStringLiteral("index"), QString::number(index));
    return v;
}

bool planPanel(const Recipe &recipe, const ValuesTable &values, const PanelInfo &info, int index,
               const HostOptions &host, PanelPlan *plan, QString *problem)
{
    plan->info = info;
    plan->index = index;
    const QHash<QString, QString> v = panelValues(info, index, values);
    HostOptions check = host;
    check.device = info.port;
    check.deviceGiven = true;
    check.checkOnly = true;
    for (const RecipeStep &step : recipe.steps) {
        const QString where = QStringLiteral("%1:%2: panel %3: ").arg(recipe.file).arg(step.line).arg(info.serial);
        QStringList command;
        QString missing;
        if (!expandStep(step, v, &command, &missing)) {
            *problem = where + QStringLiteral("no value for ${%1}").arg(missing);
            if (!values.isEmpty() && !values.rows.contains(info.serial))
                *problem += QStringLiteral(" (%1 has no line for this serial number)").arg(values.file);
            return false;
        }
        CheckOutput said;
        OutputSink *before = threadOutput();
        setThreadOutput(&said);
        const int rc = runStep(check, command);
        setThreadOutput(before);
        if (rc != ExitChecked) {
            *problem = where
                + (!said.lastError.isEmpty() ? said.lastError
                       : rc == ExitOk        ? QStringLiteral("the step does nothing on a panel")
                                             : QStringLiteral("the step cannot run"));
            return false;
        }
        plan->lines << step.line;
        plan->commands << command;
    }
    return true;
}

int runStep(const HostOptions &options, const QStringList &command)
{
    if (command.value(0) == QLatin1String("check") && command.size() == 3)
        return valueCheck(options, command.mid(1));
    return runCommand(options, command.value(0), command.mid(1));
}
