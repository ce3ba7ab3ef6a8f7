#ifndef KVX_HOST_COMMANDS_H
#define KVX_HOST_COMMANDS_H

#include "session.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// Runs one subcommand with its arguments; returns the exit code. Arguments
// are checked before the device is opened.
int runCommand(const HostOptions &options, const QString &name, const QStringList &args);

QString usageText();
// One command's synopsis and what it does, for `COMMAND --help`.
QString commandHelp(const QString &name);

// Parses a command's own options (given as --name or -o alike) and its
// positional arguments; false when an option is unknown or lacks its value.
bool parseCommandLine(QCommandLineParser &parser, const QStringList &args, const QList<QCommandLineOption> &options);

// The file transfers (filecommands.cpp).
int uploadCommand(Session &session, const QStringList &args);
int upgradeCommand(Session &session, const QStringList &args);
int downloadCommand(Session &session, const QStringList &args);

#endif
