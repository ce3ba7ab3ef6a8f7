// Placeholder: filled in by its own change.
#include "hdw_config.h"

void HDW_config::init_ExternalRTC() {}
bool HDW_config::isExternalRTC_presence() { return extRtcPresent; }
void HDW_config::syncInternalRTC() {}
bool HDW_config::setExtRTC_CountDownTimer(int) { return false; }
bool HDW_config::DisableExtRTC_CountDownTimer() { return false; }
bool HDW_config::ExtRTC_CountDown_TimerUp() { return false; }
int HDW_config::resetExtRTC_BatteryLow() { return 0; }
int HDW_config::setExtRTC_EEPROM_lock(int) { return 0; }
int HDW_config::writeByteToRTC_EEPROM(char, char) { return 0; }
void HDW_config::checkBatteryLow() {}
int HDW_config::int_to_bcd(int v) { return v; }
int HDW_config::int_to_4_byte_bcd(int v) { return v; }
bool HDW_config::rtcReadRegisters(unsigned char, unsigned char *, int) { return false; }
bool HDW_config::rtcWriteRegisters(unsigned char, const unsigned char *, int) { return false; }
