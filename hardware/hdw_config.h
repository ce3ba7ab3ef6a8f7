#ifndef HDW_CONFIG_H
#define HDW_CONFIG_H

#include <QFile>
#include <QObject>
#include <QString>
#include <ctime>

class QTimer;

// The panel's hardware configuration record. One global instance lives for
// the whole process; the HDW_config constructor fills in its defaults.
struct hwcfg_struct
{
    char serialNo[17];
    char modelName[18];
    char firmwareVersion[15];
    char appVersion[15];
    char devName[41];
    char physicalAddress[18];
    int backlight;
    int pwmOut[4];
    int almOut[2];
    int dioFd[16];
    int dioDir[16];
    int dioLevel[16];
    bool com0Enabled;
    int rs485DirPin;
    int orientation;
    bool batLowCheck;
    QString retrievePswd;
    QString uploadPswd;
    QString comCtrlPwdBac;
    QString reintPwdBac;
};

extern hwcfg_struct hwcfg_data;

struct dev_name_entry
{
    int hw_id;
    char name[20];
};

extern const dev_name_entry dev_name_table[3];
extern const int dio_to_gpio_number[16];
extern const int alm_to_gpio_number[2];

class HDW_config : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int number_of_adc READ readAdcChannelCount WRITE setAdcChannelCount)
    Q_PROPERTY(int bklight READ readBackLight WRITE setBackLight)
    Q_PROPERTY(unsigned long lcd_vertical_size READ readLcdVerticalSize)
    Q_PROPERTY(unsigned long lcd_horizontal_size READ readLcdHorizontalSize)
    Q_PROPERTY(unsigned long total_ram_size READ readTotalRamSize)
    Q_PROPERTY(unsigned long free_ram_size READ readFreeRamSize)
    Q_PROPERTY(unsigned long total_flash_size READ readTotalFlashSize)
    Q_PROPERTY(unsigned long free_flash_size READ readFreeFlashSize)

public:
    explicit HDW_config(QObject *parent = nullptr);
    ~HDW_config() override;

    // Identity texts held in hwcfg_data (valid for the life of the process).
    char *readSerialNo();
    char *modelNumber();
    char *firmwareVersion();
    char *devAppVersion();
    char *devName();
    char *readPhysicalAddress();
    char *updatePhysicalAddress(char *address);

    void confDeviceName(char *name);
    void setScreenOrientation(int orientation);
    int readOrientation();
    bool isBatteryLowCheckEnable();

    int readAdcChannelCount();
    void setAdcChannelCount(int count);

    QString readRetreivePSWD();
    QString readUploadPSWD();
    QString readComCtrlPwd_BAC();
    QString readReintPwd_BAC();
    void setRetreivePSWD(QString pswd);
    void setUploadPSWD(QString pswd);
    void setComCtrlPwd_BAC(QString pswd);
    void setReintPwd_BAC(QString pswd);

    int getHardwareID();
    char *string_parse(char **field, char *text);
    void readVersionFile();
    int saveHardwareConfig();

    // Outputs and backlight.
    void confDigiOut(int channel, int level, int direction);
    void confPWMOut(int channel, int state);
    void confAlmOut(int alarm, int state);
    void confRs485DirectionPin(int value);
    void confBatteryLowCheck(bool enable);
    int readDigiInputOutputPinCount();
    int readPwmOutputPinCount();
    int readAlarmOutputPinCount();
    int readDigiInputOutputDirection(int channel);
    int readRs485DirectionPinConf();
    void setBackLight(int percent);
    int readBackLight();

    // System probes.
    int checkSysLcd();
    unsigned long readLcdVerticalSize();
    unsigned long readLcdHorizontalSize();
    unsigned long readLcdColorDepth();
    int checkSysFlash();
    unsigned long readTotalFlashSize();
    unsigned long readFreeFlashSize();
    int checkSysRam();
    unsigned long readTotalRamSize();
    unsigned long readFreeRamSize();
    int captureNumString(char *digits, char *text, int limit);
    int get_cpu_usage();
    int readFlexcanPortCount();

    // External clock chip.
    void init_ExternalRTC();
    bool isExternalRTC_presence();
    void syncInternalRTC();
    bool setExtRTC_CountDownTimer(int ticks);
    bool DisableExtRTC_CountDownTimer();
    bool ExtRTC_CountDown_TimerUp();
    int resetExtRTC_BatteryLow();
    int setExtRTC_EEPROM_lock(int lock);
    int writeByteToRTC_EEPROM(char address, char value);
    void checkBatteryLow();
    int int_to_bcd(int value);
    int int_to_4_byte_bcd(int value);

    // Date, time and time zone.
    bool setExternalRTC(bool resetReminder, bool withTimeZone, QString *text);
    void setTimeZone(int minutes);
    int currentTimeZone();

signals:
    void ExternalRTCLowBat();
    void timeZoneChanged(int timeZone);

private:
    void readTimeZoneFile();
    void readDeviceNameFile();
    void readSysConfFile();
    void applySysConfLine(char *line);
    void readLowBatteryFile();
    void openCpuUsageSources();
    bool rtcReadRegisters(unsigned char address, unsigned char *data, int n);
    bool rtcWriteRegisters(unsigned char address, const unsigned char *data, int n);
    bool setExternalTimeZone(const QString &field);
    void setClockChipTime();
    void setClockChipControl(bool resetReminder);

    int adcChannelCount;
    unsigned long lcdVerticalSize;
    unsigned long lcdHorizontalSize;
    unsigned long lcdColorDepth;
    unsigned long totalRamSize;
    unsigned long freeRamSize;
    unsigned long totalFlashSize;
    unsigned long freeFlashSize;
    int rtcFd;
    bool extRtcPresent;
    struct tm rtcTime;
    int timeZoneOffset;
    bool firstLowBatPending;
    bool cpuSampled;
    unsigned long prevProcUtime;
    unsigned long prevProcStime;
    unsigned long prevProcCutime;
    unsigned long prevCpuTotal;
    QFile procPidStatFile;
    QFile procStatFile;
    // Calls checkBatteryLow() periodically while the chip and the check are on.
    QTimer *batteryCheckTimer;

    friend class HardwareProbe;
};

#endif
