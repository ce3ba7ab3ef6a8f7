// Opening the panel's port through QSerialPort, and telling the user in plain
// words why that failed: QSerialPort's own error texts name system calls.

#include "port.h"

#include <QFileInfo>

namespace hostlink {

namespace {

QString missing(const QString &name)
{
    return QStringLiteral("no such device: %1 (is the panel connected and in recovery mode?)").arg(name);
}

QString notSerial(const QString &name) { return QStringLiteral("%1 is not a serial device").arg(name); }

} // namespace

std::unique_ptr<QSerialPort> openPort(const QString &name, QString *error)
{
    // A path is checked first: QSerialPort would open a regular file and
    // only then fail on its line settings, with a less helpful message.
    const QFileInfo info(name);
    const bool isPath = name.contains(QLatin1Char('/'));
    if (isPath && !info.exists()) {
        *error = missing(name);
        return nullptr;
    }
    if (isPath && info.isDir()) {
        *error = QStringLiteral("%1 is a directory, not a serial device").arg(name);
        return nullptr;
    }
    if (isPath && info.isFile()) {
        *error = notSerial(name);
        return nullptr;
    }
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(name);
    if (!port->open(QIODevice::ReadWrite)) {
        switch (port->error()) {
        case QSerialPort::DeviceNotFoundError:
            *error = missing(name);
            break;
        case QSerialPort::PermissionError:
            // QSerialPort reports its lock held by another program as a
            // permission error; a device we may open is therefore busy.
            if (!isPath || (info.isReadable() && info.isWritable()))
                *error = QStringLiteral("%1 is busy: another program is using it").arg(name);
            else
                *error = QStringLiteral("no permission to open %1 (is the user in the dialout group?)").arg(name);
            break;
        default:
            *error = notSerial(name);
            break;
        }
        return nullptr;
    }
    const bool set = port->setBaudRate(QSerialPort::Baud115200) && port->setDataBits(QSerialPort::Data8)
        && port->setParity(QSerialPort::NoParity) && port->setStopBits(QSerialPort::OneStop)
        && port->setFlowControl(QSerialPort::NoFlowControl);
    if (!set) {
        *error = notSerial(name);
        return nullptr;
    }
    // Whatever the line held before this program took it is not an answer.
    port->clear();
    return port;
}

QString brokenMessage(const QSerialPort &port, const QString &name)
{
    switch (port.error()) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::NoError:
        return QStringLiteral("the link on %1 broke off (was the panel disconnected?)").arg(name);
    default:
        return QStringLiteral("%1: %2").arg(name, port.errorString());
    }
}

} // namespace hostlink
