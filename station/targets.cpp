// Finding the panels of a station run: candidate ports, one HWCF each.

#include "targets.h"

#include "link.h"
#include "port.h"
#include "replies.h"
#include "report_tags.h"

#include <QFile>
#include <QSerialPortInfo>
#include <QThread>
#include <glob.h>
#include <memory>

Probe probePort(const QString &port, int ms)
{
    Probe p;
    p.info.port = port;
    const std::unique_ptr<QSerialPort> device = hostlink::openPort(port, &p.problem);
    if (!device)
        return p;
    hostlink::Link link(*device); // only the read-only HWCF is ever sent here
    QByteArray reply;
    QList<ReportRow> rows;
    const hostlink::Link::Status s = link.exchange("#HWCF#", QDeadlineTimer(ms), &reply);
    if (s != hostlink::Link::Ok || !parseHardwareReport(reply, &rows)) {
        p.problem = s == hostlink::Link::Broken
            ? hostlink::brokenMessage(*device, port)
            : QStringLiteral("%1: no hardware report within %2 s").arg(port).arg(ms / 1000.0);
        return p;
    }
    // The report's rows come in the tags' order.
    p.info.serial = rows.at(report::SerialNo).value;
    p.info.model = rows.at(report::Model).value;
    p.info.firmware = rows.at(report::FirmwareVersion).value;
    p.info.name = rows.at(report::DeviceName).value;
    p.ok = true;
    return p;
}

bool parseUsbId(const QString &text, quint16 *vendor, quint16 *product)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    bool ok1 = false, ok2 = false;
    if (parts.size() != 2 || parts.at(0).size() > 4 || parts.at(1).size() > 4)
        return false;
    *vendor = parts.at(0).toUShort(&ok1, 16);
    *product = parts.at(1).toUShort(&ok2, 16);
    return ok1 && ok2;
}

QStringList candidatePorts(const TargetOptions &options)
{
    QStringList ports;
    if (!options.portsGlob.isEmpty()) {
        glob_t g;
        if (glob(QFile::encodeName(options.portsGlob).constData(), 0, nullptr, &g) == 0) {
            for (size_t i = 0; i < g.gl_pathc; ++i)
                ports << QFile::decodeName(g.gl_pathv[i]);
        }
        globfree(&g);
        return ports;
    }
    if (!options.ports.isEmpty())
        return options.ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.hasVendorIdentifier() && info.hasProductIdentifier() && info.vendorIdentifier() == options.vendorId
            && info.productIdentifier() == options.productId)
            ports << info.systemLocation();
    }
    ports.sort();
    return ports;
}

QVector<Probe> probePorts(const QStringList &ports, int ms)
{
    QVector<Probe> probes(ports.size());
    // QThreads: a serial port wants one for its socket notifiers.
    std::vector<std::unique_ptr<QThread>> threads;
    threads.reserve(static_cast<size_t>(ports.size()));
    for (int i = 0; i < ports.size(); ++i) {
        threads.emplace_back(QThread::create([&probes, &ports, i, ms] { probes[i] = probePort(ports.at(i), ms); }));
        threads.back()->start();
    }
    for (const auto &t : threads)
        t->wait();
    return probes;
}

QVector<PanelInfo> selectPanels(const QVector<Probe> &probes, const QString &serialPrefix)
{
    QVector<PanelInfo> panels;
    for (const Probe &p : probes) {
        if (p.ok && p.info.serial.startsWith(serialPrefix))
            panels << p.info;
    }
    return panels;
}
