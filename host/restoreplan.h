#ifndef KVX_HOST_RESTOREPLAN_H
#define KVX_HOST_RESTOREPLAN_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What `restore` sends to put a backed-up configuration on a panel: the
// configuration files of a backup turned into the setting commands that
// reach each value, and what no command reaches, with the reason.

struct RestoreStep
{
    QByteArray frame;
    QByteArray reply; // the tag that says it was done; empty: the panel answers nothing
    QString what;     // for the report, "backlight 80 %"
};

struct RestorePlan
{
    QList<RestoreStep> steps;
    int timeZone = 0; // minutes; set together with the clock
    bool hasTimeZone = false;
    QStringList fonts;       // font files to upload
    QStringList notRestored; // one line each: what and why
};

// Reads the backup in dir (a directory written by `backup`).
RestorePlan planRestore(const QString &dir);

#endif
