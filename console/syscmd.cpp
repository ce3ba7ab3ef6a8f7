// Placeholder: filled in by its own change.
#include "usb_console.h"

void USB_console::changeMode(int, bool) {}
int USB_console::SysCmdUnix(char *, int) { return -1; }
void USB_console::SysCmdSysn(bool) {}
void USB_console::SysCmdReboot() {}
void USB_console::onRecoveryReboot() {}
void USB_console::ReportCPUID() {}
void USB_console::SaveHwdConfig() {}
void USB_console::OutputBackLight(int) {}
void USB_console::UpdateFreeRamSize() {}
void USB_console::setLowBatteryState() {}
