#ifndef KVX_STATION_STATION_H
#define KVX_STATION_STATION_H

#include "plan.h"
#include "report.h"
#include "session.h"
#include "targets.h"

#include <csignal>

#include <QString>
#include <QStringList>

// kvx-host as the station tool of a production line: many panels at once.
struct StationOptions
{
    HostOptions host;
    TargetOptions targets;
    QString report; // --report FILE
    QString logDir; // --log-dir DIR
};

// devices, run and watch; and any other command when there are many targets.
bool isStationCommand(const QString &name);
int stationCommand(const StationOptions &options, const QString &name, const QStringList &args);

// A recipe run's input, read and checked before any port is opened.
struct Job
{
    Recipe recipe;
    ValuesTable values;
    bool dryRun = false;
};

// Shared by run and watch (station.cpp, watch.cpp).
// The panels among the candidates; silent (when given) gets a failed result
// for each port named with -p that did not answer.
QVector<PanelInfo> findPanels(const StationOptions &o, QVector<PanelResult> *silent = nullptr);
bool saveReport(const StationOptions &o, const QVector<PanelResult> &results);
int planAll(const StationOptions &o, const Job &job, const QVector<PanelInfo> &panels, QVector<PanelPlan> *plans);
int watchJob(const StationOptions &o, const Job &job, const volatile std::sig_atomic_t *interrupted);

// What `run --help` and `watch --help` print.
QString recipeHelp(const QString &command);

#endif
