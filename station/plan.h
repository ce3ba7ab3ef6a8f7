#ifndef KVX_STATION_PLAN_H
#define KVX_STATION_PLAN_H

#include "recipe.h"
#include "session.h"
#include "targets.h"
#include "values.h"

#include <QStringList>
#include <QVector>

// A recipe made concrete for one panel: every step's arguments with the
// panel's values filled in, each checked as far as it can be without the
// panel (arguments, local files).
struct PanelPlan
{
    PanelInfo info;
    int index = 0; // 1 for the first panel of the run
    QVector<int> lines;
    QVector<QStringList> commands; // commands[i][0] is the command name
};

// The commands a recipe step may start with: kvx-host's and `check`.
QStringList recipeCommands();

// The values of ${...} for one panel.
QHash<QString, QString> panelValues(const PanelInfo &info, int index, const ValuesTable &values);

// Builds and checks the plan of one panel; on a fault, *problem names the
// file, the line and the panel. Sends nothing.
bool planPanel(const Recipe &recipe, const ValuesTable &values, const PanelInfo &info, int index,
               const HostOptions &host, PanelPlan *plan, QString *problem);

// Runs one step on the panel (options.device): a kvx-host command, or
// check TAG VALUE (check with one argument is the package check). Returns its
// exit code.
int runStep(const HostOptions &options, const QStringList &command);

#endif
