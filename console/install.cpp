// The firmware installer: five steps on the single-shot upgrade timer that
// unpack and run the package's pre_install and post_install and end in a
// reboot, which is also where every failure leads.

#include "usb_console.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QTimer>
#include <cstdio>

namespace {

constexpr int NextStepMs = 1000;
constexpr int BeforeRebootMs = 3000;

} // namespace

void USB_console::setFileDialogMessage(int code)
{
    switch (code) {
    case 2:
        statusLabel->setText(QStringLiteral("Please wait for installation..."));
        break;
    case 4:
        statusLabel->setText(QStringLiteral("Upgrade finished, wait for reboot..."));
        messageLabel->setText(QStringLiteral("Please make sure jumper removed"));
        break;
    case 5:
        statusLabel->setText(QStringLiteral("Reboot now..."));
        break;
    case 6:
        statusLabel->setText(QStringLiteral("Upgrade package verification successful."));
        break;
    case 7:
        statusLabel->setText(QStringLiteral("Upgrade package verification failed!"));
        break;
    case 8:
        statusLabel->setText(QStringLiteral("Installation Error!"));
        break;
    default:
        break;
    }
}

void USB_console::upgradeAction()
{
    if (upgradeTimer->isActive())
        upgradeTimer->stop();
    emit UpgradeStatusChange(upgradeState);
}

// Runs one command line (split at blanks, no shell) in the working directory
// and waits for it to start and to end. Only starting and ending in time
// count; the exit code does not. A command still running when this returns
// is killed with its process object.
bool USB_console::runInstallCommand(const QString &command, const char *startedLog, const char *notStartedLog,
                                    bool *started)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args = QProcess::splitCommand(command);
    const QString program = args.isEmpty() ? QString() : args.takeFirst();
    process.start(program, args);

    const bool running = process.waitForStarted(processStartTimeout);
    if (started)
        *started = running;
    printf("%s", running ? startedLog : notStartedLog);
    const bool finished = running && process.waitForFinished(processFinishTimeout);
    fputs(finished ? "-End\n" : "-Fail\n", stdout);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    return finished;
}

void USB_console::onUpgradeStatusChange(int state)
{
    const QString package = QString::fromLocal8Bit(fileName);
    switch (state) {
    case 1: {
        messageLabel->setText(QString());
        progressBar->hide();
        printf("CXM: Upgrade Start\n");
        // Old firmware files go; the package itself may carry such a name and
        // must survive until it is unpacked.
        const QString keep = QFileInfo(package).absoluteFilePath();
        QDir app(QCoreApplication::applicationDirPath());
        const QStringList old = app.entryList({ QStringLiteral("firmware.v*") }, QDir::Files);
        for (const QString &name : old) {
            if (app.absoluteFilePath(name) == keep)
                continue;
            printf("CXM: removed %s\n", qPrintable(name));
            app.remove(name);
        }
        upgradeState = 2;
        upgradeTimer->start(NextStepMs);
        break;
    }
    case 2:
        if (runInstallCommand(QStringLiteral("tar -zxf %1 pre_install").arg(package), "CXM: Un-tar pre_install",
                              "CXM: Un-tar pre_install not Start")
            && runInstallCommand(QStringLiteral("./pre_install"), "CXM: pre install", "CXM: Pre install not start")) {
            setFileDialogMessage(2);
            upgradeState = 3;
            upgradeTimer->start(NextStepMs);
        } else {
            setFileDialogMessage(8);
            upgradeState = 5;
            upgradeTimer->start(BeforeRebootMs);
        }
        break;
    case 3:
        if (runInstallCommand(QStringLiteral("tar -zxf %1").arg(package), "CXM: Un-tar all",
                              "CXM: Un-tar all not Start")) {
            upgradeState = 4;
        } else {
            messageLabel->setText(QStringLiteral("Installation Error!"));
            upgradeState = 5;
        }
        upgradeTimer->start(NextStepMs);
        break;
    case 4: {
        bool started = false;
        const bool finished = runInstallCommand(QStringLiteral("./post_install"), "CXM: Post install",
                                                "CXM: Post install not start", &started);
        // The window is repainted only after the wait, so showing the finish
        // message now looks the same as showing it when the command started.
        if (started)
            setFileDialogMessage(4);
        if (!finished)
            setFileDialogMessage(8);
        upgradeState = 5;
        upgradeTimer->start(BeforeRebootMs);
        break;
    }
    case 5:
        setFileDialogMessage(5);
        runInstallCommand(QStringLiteral("reboot"), "CXM: Reboot", "CXM: Reboot not Start");
        break;
    default:
        break;
    }
}
