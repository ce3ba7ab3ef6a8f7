// Placeholder: filled in by its own change.
#include "usb_console.h"

#include "hdw_config.h"

void USB_console::changeMode(int, bool) {}
int USB_console::SysCmdUnix(char *, int) { return -1; }
void USB_console::SysCmdSysn(bool) {}
void USB_console::SysCmdReboot() {}
void USB_console::onRecoveryReboot() {}
void USB_console::ReportCPUID() {}

void USB_console::SaveHwdConfig()
{
    if (hwConfig->saveHardwareConfig() == 0)
        writeBytes("<SVCF:NOR>", 10);
    else
        writeBytes("<SVCF:ERR>", 10);
}

void USB_console::OutputBackLight(int bklight)
{
    hwConfig->setBackLight(bklight);
}

void USB_console::UpdateFreeRamSize()
{
    const int ram = static_cast<int>(hwConfig->readFreeRamSize());
    if (ram != freeRamSize)
        freeRamSize = ram;
}

// The battery reminder has no visible effect in the recovery utility.
void USB_console::setLowBatteryState()
{
}
