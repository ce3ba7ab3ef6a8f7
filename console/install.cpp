// Placeholder: filled in by its own change.
#include "usb_console.h"

void USB_console::onUpgradeStatusChange(int) {}
void USB_console::upgradeAction() {}
void USB_console::setFileDialogMessage(int) {}
bool USB_console::runInstallCommand(const QString &, const char *, const char *, bool *) { return false; }
