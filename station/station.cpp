// The station commands: devices, run, watch, and one command on many panels.

#include "station.h"

#include "commands.h"
#include "display.h"
#include "plan.h"
#include "report.h"
#include "worker.h"

#include <QDir>
#include <QElapsedTimer>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

// How long a candidate port may take to answer its HWCF.
constexpr int ProbeMs = 2000;

volatile std::sig_atomic_t interrupted = 0;

// The first Ctrl-C asks to stop after the running recipes; the second one
// (the default action again) stops at once.
void onInterrupt(int)
{
    interrupted = 1;
    std::signal(SIGINT, SIG_DFL);
}

// RECIPE [--values FILE] [--dry-run]: read and checked before any port is
// opened.
int readJob(const QString &command, const QStringList &args, Job *job)
{
    QCommandLineParser parser;
    const QCommandLineOption values(QStringLiteral("values"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"), QString());
    if (!parseCommandLine(parser, args, { values, dryRun }) || parser.positionalArguments().size() != 1) {
        QString why = parser.errorText(); // empty when only the recipe is wrong
        if (why.endsWith(QLatin1Char('.')))
            why.chop(1);
        return fail(ExitUsage,
                    QStringLiteral("%1usage: %2 RECIPE [--values FILE] [--dry-run]; global options such as "
                                   "--report go before %2 (see kvx-host %2 --help)")
                        .arg(why.isEmpty() ? QString() : why + QStringLiteral("; "), command));
    }
    job->dryRun = parser.isSet(dryRun);
    QString problem;
    if (!readRecipe(parser.positionalArguments().at(0), recipeCommands(), &job->recipe, &problem)
        || (parser.isSet(values) && !readValues(parser.value(values), &job->values, &problem)))
        return fail(ExitUsage, problem);
    return ExitOk;
}

int devicesCommand(const StationOptions &o, const QStringList &args)
{
    if (!args.isEmpty())
        return fail(ExitUsage, QStringLiteral("devices takes no arguments"));
    const QVector<PanelInfo> panels = findPanels(o);
    for (const PanelInfo &p : panels)
        out(QStringLiteral("%1  %2  %3  %4  %5").arg(p.port, p.serial, p.model, p.firmware, p.name));
    if (panels.isEmpty())
        return fail(ExitDevice, QStringLiteral("no panel answered"));
    return ExitOk;
}

QString countLine(int done, int failed, int running)
{
    return QStringLiteral("%1 done, %2 failed, %3 running").arg(done).arg(failed).arg(running);
}

// Runs the plans all at once and waits for every one.
int runPlans(const StationOptions &o, const QVector<PanelPlan> &plans, QVector<PanelResult> results)
{
    std::vector<std::unique_ptr<PanelWorker>> workers;
    QVector<PanelWorker *> shown;
    QSemaphore ended;
    for (const PanelPlan &plan : plans) {
        workers.push_back(std::make_unique<PanelWorker>(plan, o.host, o.logDir, &ended));
        shown << workers.back().get();
        workers.back()->start();
    }
    Display display(isatty(STDERR_FILENO) == 1);
    for (;;) {
        const bool allDone = std::all_of(workers.begin(), workers.end(), [](const auto &w) { return w->finished(); });
        display.update(shown, QString());
        if (allDone)
            break;
        ended.tryAcquire(1, 100); // a redraw at least every 100 ms, and at each end
    }
    for (const auto &w : workers) {
        w->join();
        results << w->view().result;
    }
    const bool allOk = std::all_of(results.begin(), results.end(), [](const PanelResult &r) { return r.ok; });
    const int rc = allOk ? ExitOk : ExitRefused;
    display.keep();
    const int failed
        = static_cast<int>(std::count_if(results.begin(), results.end(), [](const PanelResult &r) { return !r.ok; }));
    display.message(countLine(results.size() - failed, failed, 0));
    return saveReport(o, results) ? rc : ExitUsage;
}

int runJob(const StationOptions &o, const Job &job)
{
    QString problem;
    if (!o.report.isEmpty() && !isReportName(o.report, &problem))
        return fail(ExitUsage, problem);
    QVector<PanelResult> silent;
    const QVector<PanelInfo> panels = findPanels(o, &silent);
    if (panels.isEmpty()) {
        saveReport(o, silent);
        return fail(ExitDevice, QStringLiteral("no panel answered"));
    }
    QVector<PanelPlan> plans;
    if (const int rc = planAll(o, job, panels, &plans))
        return rc;
    if (job.dryRun) {
        out(QStringLiteral("%1: %2 step(s) checked for %3 panel(s); nothing was sent.")
                .arg(job.recipe.file)
                .arg(job.recipe.steps.size())
                .arg(panels.size()));
        return ExitOk;
    }
    if (!o.logDir.isEmpty() && !QDir().mkpath(o.logDir))
        return fail(ExitUsage, QStringLiteral("cannot make the log directory %1").arg(o.logDir));
    return runPlans(o, plans, silent);
}

} // namespace

QVector<PanelInfo> findPanels(const StationOptions &o, QVector<PanelResult> *silent)
{
    const int ms = o.host.timeoutMs > 0 ? o.host.timeoutMs : ProbeMs;
    const QVector<Probe> probes = probePorts(candidatePorts(o.targets), ms);
    // A port named with -p that does not answer is a panel that failed; one
    // found by pattern or USB ids may be anything, and is worth a word at most.
    const bool named = o.targets.portsGlob.isEmpty() && !o.targets.ports.isEmpty();
    for (const Probe &p : probes) {
        if (!p.ok && (named || o.host.verbose))
            fprintf(stderr, "kvx-host: %s\n", qPrintable(p.problem));
        if (!p.ok && named && silent)
            *silent << PanelResult { p.info.port, {}, {}, {}, {}, 0, false, p.problem };
    }
    return selectPanels(probes, o.targets.serialPrefix);
}

bool saveReport(const StationOptions &o, const QVector<PanelResult> &results)
{
    QString problem;
    if (o.report.isEmpty() || writeReport(o.report, results, &problem))
        return true;
    fail(ExitUsage, problem);
    return false;
}

// Plans the job for every panel; the first fault stops it all.
int planAll(const StationOptions &o, const Job &job, const QVector<PanelInfo> &panels, QVector<PanelPlan> *plans)
{
    for (int i = 0; i < panels.size(); ++i) {
        PanelPlan plan;
        QString problem;
        if (!planPanel(job.recipe, job.values, panels.at(i), i + 1, o.host, &plan, &problem))
            return fail(ExitUsage, problem + QStringLiteral("; nothing was sent"));
        *plans << plan;
    }
    return ExitOk;
}

bool isStationCommand(const QString &name)
{
    return name == QLatin1String("devices") || name == QLatin1String("run") || name == QLatin1String("watch");
}

int stationCommand(const StationOptions &options, const QString &name, const QStringList &args)
{
    const bool station = isStationCommand(name);
    if (station && (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h")))) {
        fputs(recipeHelp(name).toLocal8Bit().constData(), stdout);
        return ExitOk;
    }
    if (name == QLatin1String("devices"))
        return devicesCommand(options, args);
    Job job;
    if (name == QLatin1String("run") || name == QLatin1String("watch")) {
        if (const int rc = readJob(name, args, &job))
            return rc;
    } else {
        // One command on many panels: a recipe of one line.
        if (!recipeCommands().contains(name))
            return fail(ExitUsage, QStringLiteral("%1 works on this PC alone: give it no panels").arg(name));
        RecipeStep step;
        step.line = 1;
        for (const QString &a : QStringList(name) + args)
            step.words << RecipeWord { WordPart { a, false } };
        job.recipe.file = QStringLiteral("the command line");
        job.recipe.steps << step;
    }
    if (name == QLatin1String("watch")) {
        std::signal(SIGINT, onInterrupt);
        return watchJob(options, job, &interrupted);
    }
    return runJob(options, job);
}
