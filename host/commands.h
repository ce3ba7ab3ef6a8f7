#ifndef KVX_HOST_COMMANDS_H
#define KVX_HOST_COMMANDS_H

#include "session.h"

#include <QString>
#include <QStringList>

// Runs one subcommand with its arguments; returns the exit code. Arguments
// are checked before the device is opened.
int runCommand(const HostOptions &options, const QString &name, const QStringList &args);

QString usageText();

// The names runCommand() knows.
QStringList commandNames();

// The file transfers (filecommands.cpp).
int uploadCommand(Session &session, const QStringList &args);
int upgradeCommand(Session &session, const QStringList &args);
int downloadCommand(Session &session, const QStringList &args);

#endif
