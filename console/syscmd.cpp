// Console modes and system commands: the send-progress mode, command lines,
// file system sync, closing the link, the Reboot button, the CPU identity
// from the fuses, the configuration save and the backlight hand-over.

#include "usb_console.h"

#include "replies.h"

#include "hdw_config.h"
#include "platform.h"

#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void USB_console::changeMode(int mode, bool ack)
{
    if (mode == ModeQuiet) {
        sendProgress = 0;
        printf("CXM: Stop service\n");
    } else if (mode == ModeShowSending) {
        sendProgress = 1;
        printf("CXM: Stop service\n");
        setTotalFileSize(100);
        messageLabel->setText(QStringLiteral("Sending..."));
    }
    // Any other mode changes nothing, yet the host still gets its answer.
    if (ack)
        writeReply(reply::ModeAck);
}

// Starts a command line without a shell: the program and its arguments are
// split at blanks, double quotes group. The output goes straight to ours.
static void startCommand(QProcess &process, const QString &command)
{
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty())
        return; // nothing to run: the wait for the start fails
    const QString program = words.takeFirst();
    process.start(program, words, QIODevice::ReadWrite);
}

int USB_console::SysCmdUnix(char *str, int source)
{
    QProcess process;
    startCommand(process, QString::fromLocal8Bit(str));
    if (process.waitForStarted(processStartTimeout))
        printf("CXM: Unix Cmd [%s]", str);
    else
        printf("CXM: Unix Cmd Not Start\n");

    if (!process.waitForFinished(processFinishTimeout)) {
        printf("CXM: Unix Cmd Not End\n");
        // An overrunning command must not outlive its request.
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(-1);
        }
        return -1;
    }

    // A command killed by a signal has no exit code of its own; it failed.
    const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (source == 0) {
        if (code != 0)
            writeReply(reply::UnixError);
        else
            writeReply(reply::UnixOk);
    }
    printf(" -> Exit Code %d\n", code);
    return code;
}

void USB_console::SysCmdSysn(bool answer)
{
    QProcess process;
    startCommand(process, QStringLiteral("sync"));
    printf("CMX: Sync ");
    if (!process.waitForStarted(processStartTimeout)) {
        printf("Not Start\n");
        if (answer)
            writeReply(reply::SyncError);
    }
    // A sync that never started cannot finish either: hosts see a second
    // "<SYNC:ERR>" in that case.
    if (process.waitForFinished(processFinishTimeout)) {
        printf("OK\n");
        if (answer)
            writeReply(reply::SyncOk);
    } else {
        printf("Not End\n");
        if (answer)
            writeReply(reply::SyncError);
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(-1);
        }
    }
}

void USB_console::SysCmdReboot()
{
    writeReply(reply::BootOk);
    // The link stays closed for the rest of the run. Closing through
    // closeSerial() also stops the notifier and forgets the descriptor, so
    // the event loop does not spin on a dead descriptor and the dispatcher's
    // line end (or any later reply) cannot reach a file that reuses the number.
    closeSerial();
    emit RequestExit();
}

void USB_console::onRecoveryReboot()
{
    upgradeState = UpgradeReboot;
    upgradeTimer->start(500);
}

// Reads one fuse word ("0x" and up to 8 hexadecimal digits) into field, right
// aligned in zeros. Returns false, with field left empty, when the file cannot
// be opened or holds nothing.
static bool readFuseWord(const char *path, const char *name, char field[9])
{
    field[0] = '\0';
    const int fd = ::open(platform::devicePath(path).constData(), O_RDONLY);
    if (fd < 0) {
        printf("ZQL:Open %s error\n", name);
        return false;
    }
    char text[10];
    const ssize_t n = ::read(fd, text, sizeof text);
    if (n == 0) {
        printf("ZQL:Read %s error\n", name);
        ::close(fd);
        return false;
    }
    memcpy(field, "00000000", 9);
    // Digits are placed from the right end leftwards, skipping the "0x"
    // prefix and any white space; a failed read leaves all zeros.
    int pos = 7;
    for (ssize_t i = n - 1; i >= 2 && pos >= 0; --i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (isspace(c))
            continue;
        field[pos--] = static_cast<char>(c);
    }
    printf("%s:%s\n", name, field);
    ::close(fd);
    return true;
}

void USB_console::ReportCPUID()
{
    char cfg0[9];
    char cfg1[9];
    readFuseWord("/sys/fsl_otp/HW_OCOTP_CFG0", "CFG0", cfg0);
    readFuseWord("/sys/fsl_otp/HW_OCOTP_CFG1", "CFG1", cfg1);
    if (cfg0[0] != '\0' && cfg1[0] != '\0') {
        char reply[32];
        const int n = snprintf(reply, sizeof reply, "<CPUI:%s%s>", cfg0, cfg1);
        writeBytes(reply, static_cast<size_t>(n));
    } else {
        printf("CXM: OTP Rd Err !!!\n");
    }
}

void USB_console::SaveHwdConfig()
{
    if (hwConfig->saveHardwareConfig() == 0)
        writeReply(reply::SaveConfigOk);
    else
        writeReply(reply::SaveConfigError);
}

void USB_console::OutputBackLight(int bklight) { hwConfig->setBackLight(bklight); }

void USB_console::UpdateFreeRamSize()
{
    const int ram = static_cast<int>(hwConfig->readFreeRamSize());
    if (ram != freeRamSize)
        freeRamSize = ram;
}

// The battery reminder has no visible effect in the recovery utility.
void USB_console::setLowBatteryState() { }
