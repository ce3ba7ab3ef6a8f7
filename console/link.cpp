// The console object and its USB serial link: construction, the raw line
// settings, the read notifier and its routing, and the reopen after a failure.

#include "usb_console.h"

#include "replies.h"

#include "hdw_config.h"
#include "platform.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QProgressBar>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

USB_console::USB_console(QObject *parent, HDW_config *hwConfig)
    : QObject(parent)
    , statusLabel(nullptr)
    , messageLabel(nullptr)
    , progressBar(nullptr)
    , rebootButton(nullptr)
    , processStartTimeout(30000)
    , processFinishTimeout(30000)
    , serialNotifier(nullptr)
    , serialFd(-1)
    , rxTimer(nullptr)
    , packetTimer(nullptr)
    , txDelayTimer(nullptr)
    , txTimer(nullptr)
    , bootUpTimer(nullptr)
    , upgradeTimer(nullptr)
    , hwConfig(hwConfig)
    , txFile(nullptr)
    , rxExpected(0)
    , rxCount(0)
    , rxBlock(1)
    , rxErrors(0)
    , rxPacketState(PacketGood)
    , rxStartTries(0)
    , rxPacketTimeouts(0)
    , xmodemStatus(RxStarted)
    , rxMode(RxOff)
    , totalSize(0)
    , remainSize(0)
    , runtimeLoad(PlainLoad)
    , md5(nullptr)
    , consoleState(ConsoleIdle)
    , cmdIndex(0)
    , txStarted(0)
    , txPacketTotal(0)
    , txRemainder(0)
    , txPacketIndex(0)
    , sendProgress(0)
    , upgradeState(UpgradeIdle)
    , freeRamSize(0)
{
    memset(rxPacket, 0, sizeof rxPacket);
    memset(fileName, 0, sizeof fileName);
    memset(cmdBuf, 0, sizeof cmdBuf);
    memset(fileHash, 0, sizeof fileHash);
    memset(&tio, 0, sizeof tio);

    messageLabel = new QLabel;
    statusLabel = new QLabel;
    progressBar = new QProgressBar;
    progressBar->hide();

    md5 = new QCryptographicHash(QCryptographicHash::Md5);

    bootUpTimer = new QTimer(this);
    bootUpTimer->setSingleShot(true);
    upgradeTimer = new QTimer(this);
    upgradeTimer->setSingleShot(true);

    if (hwConfig->isExternalRTC_presence() && hwConfig->isBatteryLowCheckEnable())
        connect(hwConfig, SIGNAL(ExternalRTCLowBat()), this, SLOT(setLowBatteryState()));

    rxTimer = new QTimer(this);
    packetTimer = new QTimer(this);
    connect(rxTimer, SIGNAL(timeout()), this, SLOT(ReceiveTimeOut()));
    connect(packetTimer, SIGNAL(timeout()), this, SLOT(PacketTimeOut()));

    connect(this, SIGNAL(RetryXmodem()), this, SLOT(RetryXmodemRx()));
    connect(this, SIGNAL(ConsoleStartXmodem()), this, SLOT(StartXmodem()));
    connect(this, SIGNAL(ConsoleAskHwCfg()), this, SLOT(ReportHwCfg()));
    connect(this, SIGNAL(ConsoleAskSync(bool)), this, SLOT(SysCmdSysn(bool)));
    connect(this, SIGNAL(ConsoleSetBacklight(int)), this, SLOT(OutputBackLight(int)));
    connect(this, SIGNAL(ConsoleAskReboot()), this, SLOT(SysCmdReboot()));
    connect(this, SIGNAL(RequestFreeRamSize()), this, SLOT(UpdateFreeRamSize()));
    connect(this, SIGNAL(UpgradeStatusChange(int)), this, SLOT(onUpgradeStatusChange(int)));

    txTimer = new QTimer(this);
    txDelayTimer = new QTimer(this);
    connect(txTimer, SIGNAL(timeout()), this, SLOT(TxTimeOut()));
    connect(txDelayTimer, SIGNAL(timeout()), this, SLOT(TxDelayStart()));
    connect(bootUpTimer, SIGNAL(timeout()), this, SLOT(delaySendBootUp()));
    connect(upgradeTimer, SIGNAL(timeout()), this, SLOT(upgradeAction()));

    openUSBSerial(false);
}

USB_console::~USB_console()
{
    closeSerial();
    QTimer *timers[] = { rxTimer, packetTimer, txDelayTimer, txTimer, bootUpTimer, upgradeTimer };
    for (QTimer *timer : timers) {
        if (timer->isActive())
            timer->stop();
        delete timer;
    }
    if (txFile)
        fclose(txFile);
    delete md5;
}

void USB_console::openUSBSerial(bool announce)
{
    const QByteArray path = platform::devicePath("/dev/ttyGS0");
    serialFd = path.isEmpty() ? -1 : ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (serialFd < 0) {
        printf("---CXM:Can't Open Serial Port\n");
    } else {
        printf("+++CXM\n");
        tcgetattr(serialFd, &tio);
        tio.c_iflag &= ~(IXON | ICRNL | ISTRIP | BRKINT);
        tio.c_oflag = 0;
        tio.c_lflag = 0;
        tio.c_cflag = B115200 | CS8 | CLOCAL | CRTSCTS;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        tcflush(serialFd, TCIOFLUSH);
        if (tcsetattr(serialFd, TCSAFLUSH, &tio) < 0)
            printf("---CXM:Set tty attribute Error\n");
    }

    // A notifier on a descriptor that failed to open could never fire, so
    // none is made: the console stays silent for the run either way.
    if (serialFd >= 0) {
        serialNotifier = new QSocketNotifier(serialFd, QSocketNotifier::Read, this);
        connect(serialNotifier, SIGNAL(activated(int)), this, SLOT(ReadSerial()));
    }
    printf("CXM: Init Success\n");

    if (announce) {
        if (consoleState != ConsoleIdle) {
            // A frame or a send handshake was cut off by the failure.
            printf("Reboot: Wrong console mode\n");
            emit ConsoleAskReboot();
            return;
        }
        cmdIndex = 0;
        printf("Send Boot Up\n");
        bootedUp();
    }
}

void USB_console::bootedUp() { writeReply(reply::BootedUp); }

void USB_console::resetUSBSerial()
{
    printf("Reopen USB\n");
    closeSerial();
    bootUpTimer->start(1000);
}

void USB_console::delaySendBootUp()
{
    if (bootUpTimer->isActive())
        bootUpTimer->stop();
    openUSBSerial(true);
}

// Stops the notifier before the descriptor goes, and forgets the descriptor,
// so that nothing fires on a closed descriptor and no later reply can reach a
// file that has since been given the same number.
void USB_console::closeSerial()
{
    if (serialNotifier) {
        serialNotifier->setEnabled(false);
        disconnect(serialNotifier, SIGNAL(activated(int)), this, SLOT(ReadSerial()));
        // The notifier may be delivering the very notification being handled.
        serialNotifier->deleteLater();
        serialNotifier = nullptr;
    }
    if (serialFd >= 0) {
        ::close(serialFd);
        serialFd = -1;
    }
}

void USB_console::ReadSerial()
{
    if (rxMode == RxOn) {
        receiveBytes();
        return;
    }
    if (serialFd < 0)
        return;

    unsigned char b;
    const ssize_t n = ::read(serialFd, &b, 1);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return; // a spurious wake-up is not a broken link
    if (n <= 0) {
        printf("CXM: RX Error\n");
        resetUSBSerial();
        return;
    }
    switch (consoleState) {
    case ConsoleIdle:
    case ConsoleInFrame:
        collectCommandByte(b);
        break;
    case ConsoleSending:
        TxFile_handshake(static_cast<char>(b));
        break;
    default:
        break;
    }
}

void USB_console::WriteChar(unsigned char c) { writeBytes(reinterpret_cast<const char *>(&c), 1); }

void USB_console::writeBytes(const char *data, size_t n)
{
    if (serialFd < 0)
        return;
    // Replies are written straight to the line; a reply that cannot be
    // written is lost, as the host protocol expects.
    ssize_t ignored = ::write(serialFd, data, n);
    (void)ignored;
}

void USB_console::writeReply(const char *text) { writeBytes(text, strlen(text)); }

void USB_console::writeText(const QByteArray &bytes)
{
    writeBytes(bytes.constData(), static_cast<size_t>(bytes.size()));
}

int USB_console::XmodemStatus() { return rxMode; }

void USB_console::showDeviceInfo() { }
