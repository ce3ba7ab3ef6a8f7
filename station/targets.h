#ifndef KVX_STATION_TARGETS_H
#define KVX_STATION_TARGETS_H

#include <QString>
#include <QStringList>
#include <QVector>

// Which panels a station command works on.
struct TargetOptions
{
    QStringList ports;    // -p, each given
    bool all = false;     // --all
    QString serialPrefix; // --serial
    QString portsGlob;    // --ports
    // The Linux gadget serial function's defaults (--usb-id).
    quint16 vendorId = 0x0525;
    quint16 productId = 0xA4A7;

    // More than the one panel of a plain kvx-host call.
    bool many() const { return ports.size() > 1 || all || !serialPrefix.isEmpty() || !portsGlob.isEmpty(); }
};

// What one HWCF tells about a panel.
struct PanelInfo
{
    QString port, serial, model, firmware, name;
};

struct Probe
{
    PanelInfo info;
    bool ok = false;
    QString problem; // when not ok
};

// "0525:a4a7" (hexadecimal, as lsusb shows it).
bool parseUsbId(const QString &text, quint16 *vendor, quint16 *product);

// The ports that may have a panel: -p's, the --ports pattern's matches, or
// the serial ports with the USB ids.
QStringList candidatePorts(const TargetOptions &options);

// One HWCF on one port, within ms.
Probe probePort(const QString &port, int ms);

// One HWCF on each port, all at once, each within ms; in the order of ports.
QVector<Probe> probePorts(const QStringList &ports, int ms);

// The probes that answered and whose serial number starts with the prefix.
QVector<PanelInfo> selectPanels(const QVector<Probe> &probes, const QString &serialPrefix);

#endif
