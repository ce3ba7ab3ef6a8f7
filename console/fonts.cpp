// Placeholder: filled in by its own change.
#include "usb_console.h"

void USB_console::reportFontFamilies() {}
QStringList USB_console::userFonts() const { return {}; }
QStringList USB_console::systemFonts() const { return {}; }
QStringList USB_console::fontFilesForFamily(QString const &) const { return {}; }
QString USB_console::getNameFromPath(QString const &) { return {}; }
void USB_console::processRemoveStringList(int, char *) {}
bool USB_console::deleteFontFiles() { return false; }
