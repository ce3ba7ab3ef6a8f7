#ifndef KVX_HOSTLINK_PORT_H
#define KVX_HOSTLINK_PORT_H

#include <QSerialPort>
#include <QString>
#include <memory>

namespace hostlink {

// Opens a serial port by name (a device path such as /dev/ttyACM0 or COM3, or
// a name QSerialPortInfo lists) the way the panel's line wants it: 115200 baud,
// 8 data bits, no parity, one stop bit, no flow control, exclusive, with
// whatever the line held before dropped. On failure returns null and puts a
// sentence for the user in *error (no such device, no permission, busy, not a
// serial device, a directory).
std::unique_ptr<QSerialPort> openPort(const QString &name, QString *error);

// The sentence for a port that failed while in use.
QString brokenMessage(const QSerialPort &port, const QString &name);

} // namespace hostlink

#endif
