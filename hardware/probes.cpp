// Placeholder: filled in by its own change.
#include "hdw_config.h"

void HDW_config::openCpuUsageSources() {}
int HDW_config::checkSysLcd() { return -1; }
unsigned long HDW_config::readLcdVerticalSize() { return 0; }
unsigned long HDW_config::readLcdHorizontalSize() { return 0; }
unsigned long HDW_config::readLcdColorDepth() { return 0; }
int HDW_config::checkSysFlash() { return -1; }
unsigned long HDW_config::readTotalFlashSize() { return 0; }
unsigned long HDW_config::readFreeFlashSize() { return 0; }
int HDW_config::checkSysRam() { return -1; }
unsigned long HDW_config::readTotalRamSize() { return 0; }
unsigned long HDW_config::readFreeRamSize() { return 0; }
int HDW_config::captureNumString(char *digits, char *, int) { digits[0] = 0; return 0; }
int HDW_config::get_cpu_usage() { return 0; }
int HDW_config::readFlexcanPortCount() { return 0; }
