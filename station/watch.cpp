// watch: waits for panels, runs the recipe on each new one.

#include "display.h"
#include "station.h"
#include "worker.h"

#include <QDir>
#include <QHash>
#include <QSet>
#include <QThread>
#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

// How often the ports are looked at, and how long a new one may take to
// answer (a panel that is still starting is asked again at the next look).
constexpr int ScanMs = 1000;
constexpr int ProbeMs = 2000;

// What watch knows between two looks at the ports.
struct WatchState
{
    QHash<QString, QString> portSerial; // ports seen and answered, while they stay
    // HWCFs under way, each on its own thread: a port that never answers
    // does not hold up the others or the display.
    struct Probing
    {
        std::unique_ptr<QThread> thread;
        std::shared_ptr<Probe> probe;
        ~Probing()
        {
            if (thread)
                thread->wait(); // at most the probe's deadline
        }
    };
    std::map<QString, Probing> probing;
    QSet<QString> succeeded; // never again in this watch
    std::vector<std::unique_ptr<PanelWorker>> running;
    int arrivals = 0, done = 0, failed = 0;
};

bool busy(const WatchState &w, const QString &serial)
{
    return std::any_of(w.running.begin(), w.running.end(),
                       [&](const auto &r) { return r->plan().info.serial == serial; });
}

void finish(const StationOptions &o, WatchState *w, const PanelResult &r, Display *display)
{
    (r.ok ? w->done : w->failed)++;
    if (r.ok)
        w->succeeded.insert(r.serial);
    if (display->live()) // plain lines come from the display itself
        display->message(QStringLiteral("%1  %2  %3").arg(r.port, r.serial, r.result()));
    QString problem;
    if (!o.report.isEmpty() && !appendReport(o.report, r, &problem))
        display->message(QStringLiteral("kvx-host: ") + problem);
}

// One look at the ports: forgets those gone, asks new ones for their HWCF.
void scan(const StationOptions &o, WatchState *w)
{
    const QStringList ports = candidatePorts(o.targets);
    for (const QString &port : w->portSerial.keys()) {
        if (!ports.contains(port))
            w->portSerial.remove(port);
    }
    const int ms = o.host.timeoutMs > 0 ? o.host.timeoutMs : ProbeMs;
    for (const QString &port : ports) {
        if (w->portSerial.contains(port) || w->probing.count(port))
            continue;
        auto probe = std::make_shared<Probe>();
        WatchState::Probing &p = w->probing[port];
        p.probe = probe;
        p.thread.reset(QThread::create([probe, port, ms] { *probe = probePort(port, ms); }));
        p.thread->start();
    }
}

// The panels whose HWCF came back since last time.
QVector<PanelInfo> answered(const StationOptions &o, WatchState *w)
{
    QVector<Probe> probes;
    for (auto it = w->probing.begin(); it != w->probing.end();) {
        if (!it->second.thread->isFinished()) {
            ++it;
            continue;
        }
        probes << *it->second.probe;
        // A panel that answered is not asked again while it stays, even one
        // --serial leaves out.
        if (probes.last().ok)
            w->portSerial.insert(probes.last().info.port, probes.last().info.serial);
        it = w->probing.erase(it);
    }
    return selectPanels(probes, o.targets.serialPrefix);
}

// Starts the recipe on each new panel that answered.
void startNew(const StationOptions &o, const Job &job, WatchState *w, Display *display)
{
    for (const PanelInfo &info : answered(o, w)) {
        if (w->succeeded.contains(info.serial) || busy(*w, info.serial))
            continue;
        PanelPlan plan;
        QString problem;
        if (!planPanel(job.recipe, job.values, info, ++w->arrivals, o.host, &plan, &problem)) {
            display->message(QStringLiteral("kvx-host: ") + problem + QStringLiteral("; nothing was sent to it"));
            const PanelResult r { info.port, info.serial, info.model, info.firmware, {}, 0, false, problem };
            finish(o, w, r, display);
            continue;
        }
        w->running.push_back(std::make_unique<PanelWorker>(plan, o.host, o.logDir));
        w->running.back()->start();
    }
}

} // namespace

int watchJob(const StationOptions &o, const Job &job, const volatile std::sig_atomic_t *interrupted)
{
    QString problem;
    if (!o.report.isEmpty() && !canAppendReport(o.report, &problem))
        return fail(ExitUsage, problem);
    if (!o.logDir.isEmpty() && !QDir().mkpath(o.logDir))
        return fail(ExitUsage, QStringLiteral("cannot make the log directory %1").arg(o.logDir));
    if (job.dryRun) {
        QVector<PanelPlan> plans;
        if (const int rc = planAll(o, job, findPanels(o), &plans))
            return rc;
        out(QStringLiteral("%1: checked for the %2 panel(s) connected now; nothing was sent.")
                .arg(job.recipe.file)
                .arg(plans.size()));
        return ExitOk;
    }
    WatchState w;
    Display display(isatty(STDERR_FILENO) == 1);
    display.message(QStringLiteral("Watching for panels; Ctrl-C stops after the running recipes, twice at once."));
    auto lastScan = std::chrono::steady_clock::now() - std::chrono::milliseconds(ScanMs);
    while (!*interrupted || !w.running.empty()) {
        if (!*interrupted && std::chrono::steady_clock::now() - lastScan >= std::chrono::milliseconds(ScanMs)) {
            lastScan = std::chrono::steady_clock::now();
            scan(o, &w);
        }
        if (!*interrupted)
            startNew(o, job, &w, &display);
        // Finished before the display looks: all their lines get printed.
        QVector<PanelWorker *> shown;
        std::vector<bool> ended;
        for (const auto &r : w.running) {
            shown << r.get();
            ended.push_back(r->finished());
        }
        display.update(shown,
                       QStringLiteral("%1 done, %2 failed, %3 running%4")
                           .arg(w.done)
                           .arg(w.failed)
                           .arg(w.running.size())
                           .arg(*interrupted ? QStringLiteral("; stopping") : QString()));
        for (size_t i = 0; i < ended.size(); ++i) {
            if (ended[i]) {
                w.running[i]->join();
                finish(o, &w, w.running[i]->view().result, &display);
                display.forget(w.running[i].get());
                w.running[i].reset();
            }
        }
        w.running.erase(std::remove(w.running.begin(), w.running.end(), nullptr), w.running.end());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    display.message(QStringLiteral("Stopped: %1 done, %2 failed.").arg(w.done).arg(w.failed));
    return w.failed == 0 ? ExitOk : ExitRefused;
}
