#include "platform.h"

namespace platform {

QString devicePath(const QString &path) { return QString::fromLocal8Bit(devicePath(path.toLocal8Bit().constData())); }

} // namespace platform
