#ifndef KVX_STATION_REPORT_H
#define KVX_STATION_REPORT_H

#include <QJsonDocument>
#include <QString>
#include <QVector>

// What was done to each panel of a station run, for the report file.

struct StepResult
{
    int line = 0;    // in the recipe
    QString command; // as run, values filled in
    bool ok = false;
    QString message;  // the command's last line, or why it failed
    qint64 bytes = 0; // moved by a transfer
    double seconds = 0;
};

struct PanelResult
{
    QString port, serial, model, firmware;
    QVector<StepResult> steps;
    int stepCount = 0; // in the recipe; steps holds those that ran
    bool ok = false;
    QString failure;        // why it failed before its first step
    QString result() const; // "done", or where and why it failed
};

// Writes the results as JSON (a .json name) or CSV (any other name: one line
// per step, the panel's columns repeated), in full or not at all.
bool writeReport(const QString &path, const QVector<PanelResult> &panels, QString *problem);

// Whether appendReport() can add to path: a report name, and no file yet or
// a report of the same kind. *doc gets a JSON report's contents.
bool canAppendReport(const QString &path, QString *problem, QJsonDocument *doc = nullptr);

// Adds one panel to the report (making it if need be): a CSV report gets its
// lines at the end; a JSON one is written anew with the panel added.
bool appendReport(const QString &path, const PanelResult &panel, QString *problem);

// Whether path names a report format writeReport() knows.
bool isReportName(const QString &path, QString *problem);

#endif
