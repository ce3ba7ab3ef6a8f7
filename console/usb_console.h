#ifndef USB_CONSOLE_H
#define USB_CONSOLE_H

#include "console_codes.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <termios.h>

class HDW_config;
class QCryptographicHash;
class QLabel;
class QProgressBar;
class QPushButton;
class QSocketNotifier;
class QTimer;

// The one object that talks to the host over the USB gadget serial port:
// the link, the command frames, the file transfers and the reports.
class USB_console : public QObject
{
    Q_OBJECT
    // Tests and fuzz targets drive the collector and the receiver directly.
    friend class ConsoleProbe;

public:
    USB_console(QObject *parent, HDW_config *hwConfig);
    ~USB_console() override;

    // The window's parts the console writes to; the window lays them out.
    QLabel *statusLabel;
    QLabel *messageLabel;
    QProgressBar *progressBar;
    QPushButton *rebootButton;

    // Link.
    void WriteChar(unsigned char c);

    // Command frames.
    void CheckConsoleCmd();
    char *string_parse(char **out, char *p);
    char *value_parse(int *out, char *p, int min, int max);
    char *long_value_parse(unsigned long long *out, char *p);
    char *state_parse(int *out, char *p);
    char *in_out_parse(int *out, char *p);
    void file_name_parse(LoadKind kind);

    // Modes and system commands.
    void changeMode(int mode, bool ack);
    void SaveHwdConfig();

    // Reception.
    void ProcessRxPackage();
    void setTotalFileSize(quint64 size);
    void setCurrentProgress(int value);
    int currentProgress();

    // Installer.
    void setFileDialogMessage(int code);

    // Sending.
    void TxFileStart(char *name);
    void TxFile_handshake(char c);
    void TxPacket(int len, int resend);

    // Fonts.
    QStringList userFonts() const;
    QStringList systemFonts() const;
    QStringList fontFilesForFamily(QString const &family) const;
    QString getNameFromPath(QString const &path);
    void processRemoveStringList(int index, char *text);
    bool deleteFontFiles();

    // Time limits of the external commands (30 s each on the panel); tests
    // shorten them so that an overrunning command need not take a minute.
    int processStartTimeout;
    int processFinishTimeout;

signals:
    void RetryXmodem();
    void ConsoleStartXmodem();
    void ConsoleAskHwCfg();
    void ConsoleReportMode();
    void ConsoleReportData();
    void ConsoleReadDIO();
    void ConsoleSetBacklight(int bklight);
    void ConsoleAskSync(bool);
    void ConsoleAskReboot();
    void RequestExit();
    void RequestFreeRamSize();
    void UpgradeStatusChange(int state);
    void dateTimeSynced();

public slots:
    void ReadSerial();
    void StartXmodem();
    void StopXmodem();
    int XmodemStatus();
    void ReportHwCfg();
    void ReportCPUID();
    void OutputBackLight(int bklight);
    void SysCmdSysn(bool answer);
    void SysCmdReboot();
    void TxDelayStart();
    void TxTimeOut();
    void bootedUp();
    void showDeviceInfo();
    void reportLocalTimeZone();
    void reportFontFamilies();
    void reportProjectFileList();
    int SysCmdUnix(char *str, int source);
    void onUpgradeStatusChange(int state);

private slots:
    void RetryXmodemRx();
    void ReceiveTimeOut();
    void PacketTimeOut();
    void UpdateFreeRamSize();
    void setLowBatteryState();
    void resetUSBSerial();
    void openUSBSerial(bool announce);
    void delaySendBootUp();
    void upgradeAction();
    void onRecoveryReboot();

private:
    // One handler per command word, run by CheckConsoleCmd with the frame's
    // parameters; false makes the dispatcher log "Wrong Cmd".
    bool cmdLOAD(char *params);
    bool cmdRTLD(char *params);
    bool cmdHWCF(char *params);
    bool cmdSYNC(char *params);
    bool cmdBOOT(char *params);
    bool cmdBKLT(char *params);
    bool cmdDIGC(char *params);
    bool cmdPWMC(char *params);
    bool cmdALMC(char *params);
    bool cmdCHBT(char *params);
    bool cmdSVCF(char *params);
    bool cmdHELP(char *params);
    bool cmdGETF(char *params);
    bool cmdDORI(char *params);
    bool cmdUNIX(char *params);
    bool cmdDTIM(char *params);
    bool cmdFINF(char *params);
    bool cmdSINF(char *params);
    bool cmdSLTZ(char *params);
    bool cmdGFFS(char *params);
    bool cmdRMFS(char *params);
    bool cmdMODE(char *params);
    bool cmdCPUI(char *params);
    bool cmdSNAM(char *params);
    bool cmdGPFL(char *params);
    bool cmdDRPN(char *params);
    struct CommandEntry;
    static const CommandEntry commandTable[];

    // The steps behind the slots: collecting frames, taking in and checking
    // packets, writing to the link, ending a reception, running installers.
    void collectCommandByte(unsigned char b);
    void receiveBytes();
    bool startPacket(unsigned char b);
    void closeSerial();
    void writeBytes(const char *data, size_t n);
    void writeReply(const char *text);
    void writeText(const QByteArray &bytes);
    bool verifyRuntimeFile();
    void rejectPacket();
    void storePacket();
    void moveReceivedFont();
    void resetReceiver();
    void sendRuntimeReply(bool verified);
    bool runInstallCommand(const QString &command, const char *startedLog, const char *notStartedLog,
                           bool *started = nullptr);

    // The serial link and its read notifier.
    QSocketNotifier *serialNotifier;
    int serialFd;
    struct termios tio;

    // Timers: the receiver's start and packet waits, the send's listen delay
    // and start wait, the greeting after a reopen, the installer's next step.
    QTimer *rxTimer;
    QTimer *packetTimer;
    QTimer *txDelayTimer;
    QTimer *txTimer;
    QTimer *bootUpTimer;
    QTimer *upgradeTimer;

    // The panel's hardware and configuration store the commands act on.
    HDW_config *hwConfig;

    // The file being received or sent, and the packet buffer both use.
    FILE *txFile;
    unsigned char rxPacket[2060];

    // Reception bookkeeping: packet assembly, block sequence and retries.
    int rxExpected;
    int rxCount;
    unsigned int rxBlock;
    unsigned int rxErrors;
    unsigned int rxPacketState; // PacketState
    unsigned int rxStartTries;
    unsigned int rxPacketTimeouts;
    int xmodemStatus; // RxStatus
    int rxMode;       // RxMode

    // What the last LOAD or RTLD frame announced, and where it is written.
    int totalSize;
    unsigned int remainSize;
    char fileName[52];
    char fileHash[33];
    int runtimeLoad; // LoadKind
    QByteArray rxPath;
    QCryptographicHash *md5;

    // The command frame being collected.
    int consoleState; // ConsoleState
    char cmdBuf[256];
    int cmdIndex;

    // The file being sent: packets in all, the last one's length, the next.
    int txStarted;
    int txPacketTotal;
    int txRemainder;
    int txPacketIndex;
    unsigned char sendProgress;

    // The installer: its next step and the package it was verified with.
    int upgradeState; // UpgradeStep
    QString installPackage;

    // Probes and font removal state.
    int freeRamSize;
    QList<QString> removeList;
};

#endif
