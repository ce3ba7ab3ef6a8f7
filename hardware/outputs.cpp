// Placeholder: filled in by its own change.
#include "hdw_config.h"

void HDW_config::confDigiOut(int, int, int) {}
void HDW_config::confPWMOut(int, int) {}
void HDW_config::confAlmOut(int, int) {}
void HDW_config::confRs485DirectionPin(int) {}
void HDW_config::confBatteryLowCheck(bool) {}
int HDW_config::readDigiInputOutputPinCount() { return 16; }
int HDW_config::readPwmOutputPinCount() { return 4; }
int HDW_config::readAlarmOutputPinCount() { return 2; }
int HDW_config::readDigiInputOutputDirection(int channel) { return hwcfg_data.dioDir[channel]; }
int HDW_config::readRs485DirectionPinConf() { return hwcfg_data.rs485DirPin; }
void HDW_config::setBackLight(int) {}
int HDW_config::readBackLight() { return -1; }
