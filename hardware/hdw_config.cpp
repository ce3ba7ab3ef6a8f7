// The hardware configuration object: construction, identity from the fuses,
// the record's accessors and the field parser shared by the configuration
// files. Reading and writing those files lives in config_files.cpp.

#include "hdw_config.h"

#include "platform.h"

#include <QtGlobal>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

hwcfg_struct hwcfg_data;

const dev_name_entry dev_name_table[3] = {
    { 0, "MVK 100" },
    { 1, "MVK 100" },
    { 16, "MVK 200" },
};

const int dio_to_gpio_number[16] = { 128, 129, 130, 131, 132, 133, 134, 135, 42, 43, 44, 45, 49, 50, 162, 163 };
const int alm_to_gpio_number[2] = { 104, 107 };

HDW_config::HDW_config(QObject *parent)
    : QObject(parent)
    , adcChannelCount(0)
    , // nothing on the panel reports an ADC count; 0 until set
    lcdVerticalSize(0)
    , lcdHorizontalSize(0)
    , lcdColorDepth(0)
    , totalRamSize(0)
    , freeRamSize(0)
    , totalFlashSize(0)
    , freeFlashSize(0)
    , rtcFd(-1)
    , extRtcPresent(false)
    , rtcTime()
    , timeZoneOffset(0)
    , firstLowBatPending(false)
    , cpuSampled(false)
    , prevProcUtime(0)
    , prevProcStime(0)
    , prevProcCutime(0)
    , prevCpuTotal(0)
    , batteryCheckTimer(nullptr)
{
    // Every step runs whatever the earlier ones found: a panel with missing
    // or broken files must still come up with usable defaults.
    timeZoneOffset = 0;
    readTimeZoneFile();

    firstLowBatPending = false;

    hwcfg_struct &d = hwcfg_data;
    for (int i = 0; i < 16; ++i) {
        d.dioFd[i] = 0;
        d.dioDir[i] = 0;
        d.dioLevel[i] = 0;
    }
    for (int &state : d.pwmOut)
        state = 0;
    for (int &state : d.almOut)
        state = 0;
    d.com0Enabled = false;
    d.rs485DirPin = 0;
    qstrncpy(d.serialNo, "0000000000000000", sizeof d.serialNo);
    qstrncpy(d.physicalAddress, "00:00:00:00:00:00", sizeof d.physicalAddress);
    d.backlight = 50;
    d.batLowCheck = true;

    const int hardwareId = getHardwareID();
    printf("HWI: HW ID %d\n", hardwareId);
    const dev_name_entry *model = &dev_name_table[2];
    if (hardwareId == dev_name_table[0].hw_id)
        model = &dev_name_table[0];
    else if (hardwareId == dev_name_table[1].hw_id)
        model = &dev_name_table[1];
    qstrncpy(d.modelName, model->name, sizeof d.modelName);

    qstrncpy(d.firmwareVersion, "0.0.0.0", sizeof d.firmwareVersion);
    d.appVersion[0] = '\0';
    qstrncpy(d.devName, d.serialNo, sizeof d.devName);
    d.orientation = 0;

    readDeviceNameFile();
    readSysConfFile();
    readLowBatteryFile();

    init_ExternalRTC();

    printf("HWI: SN: %s\n", d.serialNo);

    readVersionFile();

    openCpuUsageSources();
    cpuSampled = false;

    syncInternalRTC();
}

HDW_config::~HDW_config()
{
    procPidStatFile.close();
    procStatFile.close();
    for (int &fd : hwcfg_data.dioFd) {
        if (fd > 0)
            close(fd);
        fd = 0;
    }
    if (rtcFd >= 0) {
        close(rtcFd);
        rtcFd = -1;
    }
}

char *HDW_config::readSerialNo() { return hwcfg_data.serialNo; }
char *HDW_config::modelNumber() { return hwcfg_data.modelName; }
char *HDW_config::firmwareVersion() { return hwcfg_data.firmwareVersion; }
char *HDW_config::devAppVersion() { return hwcfg_data.appVersion; }
char *HDW_config::devName() { return hwcfg_data.devName; }
char *HDW_config::readPhysicalAddress() { return hwcfg_data.physicalAddress; }

char *HDW_config::updatePhysicalAddress(char *address)
{
    qstrncpy(hwcfg_data.physicalAddress, address ? address : "", sizeof hwcfg_data.physicalAddress);
    return hwcfg_data.physicalAddress;
}

void HDW_config::confDeviceName(char *name)
{
    // The console admits at most 40 characters; the copy is bounded anyway.
    qstrncpy(hwcfg_data.devName, name ? name : "", sizeof hwcfg_data.devName);
    printf("HWI: NAME:%s\n", hwcfg_data.devName);
}

void HDW_config::setScreenOrientation(int orientation) { hwcfg_data.orientation = orientation; }
int HDW_config::readOrientation() { return hwcfg_data.orientation; }
bool HDW_config::isBatteryLowCheckEnable() { return hwcfg_data.batLowCheck; }

int HDW_config::readAdcChannelCount() { return adcChannelCount; }
void HDW_config::setAdcChannelCount(int count) { adcChannelCount = count; }

QString HDW_config::readRetreivePSWD() { return hwcfg_data.retrievePswd; }
QString HDW_config::readUploadPSWD() { return hwcfg_data.uploadPswd; }
QString HDW_config::readComCtrlPwd_BAC() { return hwcfg_data.comCtrlPwdBac; }
QString HDW_config::readReintPwd_BAC() { return hwcfg_data.reintPwdBac; }
void HDW_config::setRetreivePSWD(QString pswd) { hwcfg_data.retrievePswd = pswd; }
void HDW_config::setUploadPSWD(QString pswd) { hwcfg_data.uploadPswd = pswd; }
void HDW_config::setComCtrlPwd_BAC(QString pswd) { hwcfg_data.comCtrlPwdBac = pswd; }
void HDW_config::setReintPwd_BAC(QString pswd) { hwcfg_data.reintPwdBac = pswd; }

// A fuse word as the kernel prints it, read the way a 32-bit strtol reads
// hexadecimal text: values beyond the signed range stick at its ends.
static int32_t fuseWord(const char *text)
{
    const long long value = strtoll(text, nullptr, 16);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

int HDW_config::getHardwareID()
{
    char line[20];

    FILE *f = fopen(platform::devicePath("/sys/fsl_otp/HW_OCOTP_GP1").constData(), "r");
    if (!f) {
        printf("HWI: OTP_GP1 open Err\n");
        return -1;
    }
    if (!fgets(line, sizeof line, f)) {
        printf("HWI: OTP_GP1 read Err\n");
    } else {
        const int32_t g1 = fuseWord(line);
        printf("HWI: OTP_GP1 0x%0x\n", static_cast<unsigned>(g1));
        const unsigned w = (static_cast<uint32_t>(g1) >> 16) & 0xFFF;
        // The first half of the serial number: week, year and a sequence
        // number; the second half stays as it is until GP2 is read.
        char half[9];
        snprintf(half, sizeof half, "%02u%02u%04X", w % 52 + 1, w / 52 + 14, static_cast<unsigned>(g1) & 0xFFFF);
        memcpy(hwcfg_data.serialNo, half, 8);
    }
    fclose(f);

    f = fopen(platform::devicePath("/sys/fsl_otp/HW_OCOTP_GP2").constData(), "r");
    if (!f) {
        printf("HWI: OTP_GP2 open Err\n");
        return -1;
    }
    if (!fgets(line, sizeof line, f)) {
        printf("HWI: OTP_GP2 read Err\n");
        fclose(f);
        return -1;
    }
    const uint32_t g2 = static_cast<uint32_t>(fuseWord(line));
    snprintf(hwcfg_data.serialNo + 8, sizeof hwcfg_data.serialNo - 8, "%08X", g2);
    fclose(f);
    return static_cast<int>(g2 >> 24);
}

char *HDW_config::string_parse(char **field, char *text)
{
    *field = nullptr;
    if (!text || text[0] != '<')
        return text;
    char *end = strchr(text + 1, '>');
    if (!end)
        return text;
    *end = '\0';
    *field = text + 1;
    return end + 1;
}
