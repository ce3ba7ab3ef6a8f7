#ifndef USB_CONSOLE_H
#define USB_CONSOLE_H

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

struct cmd_entry {
    char name[8];
    int code;
};

extern const cmd_entry cmd_set[27];

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

    QLabel *statusLabel;
    QLabel *messageLabel;
    QProgressBar *progressBar;
    QPushButton *rebootButton;

    // Link.
    void WriteChar(unsigned char c);

    // Command frames.
    void CheckConsoleCmd();
    int SearchMatchCmd(char *word);
    char *string_parse(char **out, char *p);
    char *value_parse(int *out, char *p, int min, int max);
    char *long_value_parse(unsigned long long *out, char *p);
    char *state_parse(int *out, char *p);
    char *in_out_parse(int *out, char *p);
    void file_name_parse(int *ok, int runtime);

    // Modes and system commands.
    void changeMode(int mode, bool ack);
    void SaveHwdConfig();

    // Reception.
    void ProcessRxPackage();
    unsigned int UpdatCRC(unsigned int crc, unsigned char data);
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
    void SysCmdSysn(bool reply);
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
    void collectCommandByte(unsigned char b);
    void receiveBytes();
    void closeSerial();
    void writeBytes(const char *data, size_t n);
    void writeText(const QByteArray &bytes);
    bool verifyRuntimeFile();
    void moveReceivedFont();
    void resetReceiver();
    void sendRuntimeReply(bool verified);
    bool runInstallCommand(const QString &command, const char *startedLog, const char *notStartedLog,
                           bool *started = nullptr);

    QSocketNotifier *serialNotifier;
    QTimer *rxTimer;
    QTimer *packetTimer;
    QTimer *txDelayTimer;
    QTimer *txTimer;
    HDW_config *hwConfig;
    int serialFd;
    FILE *txFile;
    unsigned char rxPacket[2060];
    int rxExpected;
    int rxCount;
    unsigned int rxBlock;
    unsigned int rxErrors;
    unsigned int rxPacketState;
    unsigned int rxStartTries;
    unsigned int rxPacketTimeouts;
    int xmodemStatus;
    int rxMode;
    int totalSize;
    unsigned int remainSize;
    char fileName[52];
    int consoleState;
    char cmdBuf[256];
    int cmdIndex;
    QTimer *bootUpTimer;
    QTimer *upgradeTimer;
    char fileHash[33];
    QCryptographicHash *md5;
    int runtimeLoad;
    int txStarted;
    int txPacketTotal;
    int txRemainder;
    int txPacketIndex;
    struct termios tio;
    int freeRamSize;
    QList<QString> removeList;
    unsigned char sendProgress;
    int upgradeState;
};

#endif
