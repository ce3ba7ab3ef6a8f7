// Placeholder: filled in by its own change.
#include "hdw_config.h"

bool HDW_config::setExternalRTC(bool, bool, QString *) { return false; }
void HDW_config::setTimeZone(int) {}
int HDW_config::currentTimeZone() { return timeZoneOffset; }
