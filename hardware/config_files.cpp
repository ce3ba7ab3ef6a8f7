// Placeholder: filled in by its own change.
#include "hdw_config.h"

void HDW_config::readTimeZoneFile() {}
void HDW_config::readDeviceNameFile() {}
void HDW_config::readSysConfFile() {}
void HDW_config::applySysConfLine(char *) {}
void HDW_config::readLowBatteryFile() {}
void HDW_config::readVersionFile() {}
int HDW_config::saveHardwareConfig() { return -1; }
