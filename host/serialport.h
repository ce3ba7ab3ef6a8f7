#ifndef KVX_HOST_SERIALPORT_H
#define KVX_HOST_SERIALPORT_H

#include <QString>

namespace serialport {

// Opens the panel's serial device as a raw line: 115200 baud, 8 data bits, no
// parity, one stop bit, no echo, no flow control, non-blocking. Returns the
// descriptor, or -1 with errno set.
int openRaw(const QString &path);

// What a user should read when openRaw failed with err, or when the device
// stopped working with that error later.
QString errorMessage(int err, const QString &path);

} // namespace serialport

#endif
