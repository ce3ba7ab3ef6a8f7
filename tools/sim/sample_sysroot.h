#ifndef KVX_SAMPLE_SYSROOT_H
#define KVX_SAMPLE_SYSROOT_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The sample contents of a simulated panel, shared by the simulator
// (tools/kvx-sim), the tests and the fuzz targets.
namespace sample {

// Writes data to path, making its folders; false when it cannot.
bool writeFile(const QString &path, const QByteArray &data);

// Under root: the fuses (serial number 0214-0005-10000001, hardware id 16),
// the backlight, the value file of every DIO channel's GPIO, the frame buffer
// stand-in "800 480 32", /proc/meminfo, /proc/stat and /proc/self/stat, and an sbin/reboot
// that only appends a line to root/reboot.log. No clock chip, no terminal.
bool writeSysroot(const QString &root);

// The clock chip's 256 registers, the time registers at 0x08 holding t.
QByteArray clockChip(const QDateTime &t);

// Configuration, version and project files of an application directory.
bool writeAppFiles(const QString &app);

} // namespace sample

#endif
