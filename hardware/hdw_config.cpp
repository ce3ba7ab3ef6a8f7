// Placeholder: filled in by its own change.
#include "hdw_config.h"

hwcfg_struct hwcfg_data;
const dev_name_entry dev_name_table[3] = { { 0, "MVK 100" }, { 1, "MVK 100" }, { 16, "MVK 200" } };
const int dio_to_gpio_number[16] = { 128, 129, 130, 131, 132, 133, 134, 135, 42, 43, 44, 45, 49, 50, 162, 163 };
const int alm_to_gpio_number[2] = { 104, 107 };
HDW_config::HDW_config(QObject *parent) : QObject(parent), adcChannelCount(0), lcdVerticalSize(0), lcdHorizontalSize(0), lcdColorDepth(0), totalRamSize(0), freeRamSize(0), totalFlashSize(0), freeFlashSize(0), rtcFd(-1), extRtcPresent(false), rtcTime(), timeZoneOffset(0), firstLowBatPending(false), cpuSampled(false), prevProcUtime(0), prevProcStime(0), prevProcCutime(0), prevCpuTotal(0), batteryCheckTimer(nullptr) {}
HDW_config::~HDW_config() {}
char *HDW_config::readSerialNo() { return hwcfg_data.serialNo; }
char *HDW_config::modelNumber() { return hwcfg_data.modelName; }
char *HDW_config::firmwareVersion() { return hwcfg_data.firmwareVersion; }
char *HDW_config::devAppVersion() { return hwcfg_data.appVersion; }
char *HDW_config::devName() { return hwcfg_data.devName; }
char *HDW_config::readPhysicalAddress() { return hwcfg_data.physicalAddress; }
char *HDW_config::updatePhysicalAddress(char *) { return hwcfg_data.physicalAddress; }
void HDW_config::confDeviceName(char *) {}
void HDW_config::setScreenOrientation(int) {}
int HDW_config::readOrientation() { return hwcfg_data.orientation; }
bool HDW_config::isBatteryLowCheckEnable() { return hwcfg_data.batLowCheck; }
int HDW_config::readAdcChannelCount() { return adcChannelCount; }
void HDW_config::setAdcChannelCount(int count) { adcChannelCount = count; }
QString HDW_config::readRetreivePSWD() { return hwcfg_data.retrievePswd; }
QString HDW_config::readUploadPSWD() { return hwcfg_data.uploadPswd; }
QString HDW_config::readComCtrlPwd_BAC() { return hwcfg_data.comCtrlPwdBac; }
QString HDW_config::readReintPwd_BAC() { return hwcfg_data.reintPwdBac; }
void HDW_config::setRetreivePSWD(QString p) { hwcfg_data.retrievePswd = p; }
void HDW_config::setUploadPSWD(QString p) { hwcfg_data.uploadPswd = p; }
void HDW_config::setComCtrlPwd_BAC(QString p) { hwcfg_data.comCtrlPwdBac = p; }
void HDW_config::setReintPwd_BAC(QString p) { hwcfg_data.reintPwdBac = p; }
int HDW_config::getHardwareID() { return -1; }
char *HDW_config::string_parse(char **field, char *text) { *field = nullptr; return text; }
