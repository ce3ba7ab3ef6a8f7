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

// Old firmware files go; the package itself may carry such a name and must
// survive until it is unpacked.
void removeOldFirmware(const QString &package)
{
    const QString keep = QFileInfo(package).absoluteFilePath();
    QDir app(QCoreApplication::applicationDirPath());
    const QStringList old = app.entryList({ QStringLiteral("firmware.v*") }, QDir::Files);
    for (const QString &name : old) {
        if (app.absoluteFilePath(name) == keep)
            continue;
        printf("CXM: removed %s\n", qPrintable(name));
        app.remove(name);
    }
}

} // namespace

void USB_console::setFileDialogMessage(int code)
{
    switch (code) {
    case MessageInstalling:
        statusLabel->setText(QStringLiteral("Please wait for installation..."));
        break;
    case MessageFinished:
        statusLabel->setText(QStringLiteral("Upgrade finished, wait for reboot..."));
        messageLabel->setText(QStringLiteral("Please make sure jumper removed"));
        break;
    case MessageRebooting:
        statusLabel->setText(QStringLiteral("Reboot now..."));
        break;
    case MessageVerified:
        statusLabel->setText(QStringLiteral("Upgrade package verification successful."));
        break;
    case MessageNotVerified:
        statusLabel->setText(QStringLiteral("Upgrade package verification failed!"));
        break;
    case MessageInstallError:
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
    // The package as it was verified: frames that arrive between the steps
    // cannot change what is unpacked.
    const QString package = installPackage;
    switch (state) {
    case UpgradeStart: {
        messageLabel->setText(QString());
        progressBar->hide();
        printf("CXM: Upgrade Start\n");
        removeOldFirmware(package);
        upgradeState = UpgradePreInstall;
        upgradeTimer->start(NextStepMs);
        break;
    }
    case UpgradePreInstall:
        if (runInstallCommand(QStringLiteral("tar -zxf %1 pre_install").arg(package), "CXM: Un-tar pre_install",
                              "CXM: Un-tar pre_install not Start")
            && runInstallCommand(QStringLiteral("./pre_install"), "CXM: pre install", "CXM: Pre install not start")) {
            setFileDialogMessage(MessageInstalling);
            upgradeState = UpgradeUnpack;
            upgradeTimer->start(NextStepMs);
        } else {
            setFileDialogMessage(MessageInstallError);
            upgradeState = UpgradeReboot;
            upgradeTimer->start(BeforeRebootMs);
        }
        break;
    case UpgradeUnpack:
        if (runInstallCommand(QStringLiteral("tar -zxf %1").arg(package), "CXM: Un-tar all",
                              "CXM: Un-tar all not Start")) {
            upgradeState = UpgradePostInstall;
        } else {
            messageLabel->setText(QStringLiteral("Installation Error!"));
            upgradeState = UpgradeReboot;
        }
        upgradeTimer->start(NextStepMs);
        break;
    case UpgradePostInstall: {
        bool started = false;
        const bool finished = runInstallCommand(QStringLiteral("./post_install"), "CXM: Post install",
                                                "CXM: Post install not start", &started);
        // The window is repainted only after the wait, so showing the finish
        // message now looks the same as showing it when the command started.
        if (started)
            setFileDialogMessage(MessageFinished);
        if (!finished)
            setFileDialogMessage(MessageInstallError);
        upgradeState = UpgradeReboot;
        upgradeTimer->start(BeforeRebootMs);
        break;
    }
    case UpgradeReboot:
        setFileDialogMessage(MessageRebooting);
        runInstallCommand(QStringLiteral("reboot"), "CXM: Reboot", "CXM: Reboot not Start");
        break;
    default:
        break;
    }
}
