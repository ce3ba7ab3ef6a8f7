#ifndef KVX_PLATFORM_H
#define KVX_PLATFORM_H

// The seam between the utility and the panel's devices.
//
// Two implementations exist and each executable links exactly one of them:
// platform_panel.cpp talks to the real devices, platform_sim.cpp maps every
// device path below $KVX_SYSROOT and replaces the few device requests that a
// plain file cannot answer (framebuffer query, I2C bus binding, setting the
// system clock). Everything above this layer uses device paths as the panel
// knows them and never learns which build it runs in.

#include <QString>
#include <ctime>
#include <sys/types.h>

namespace platform {

// Called first thing in main(). Returns the exit status to stop with, or -1
// to go on. The panel build accepts everything; the simulation build checks
// KVX_SYSROOT and puts its programs first on PATH.
int init();

// Turns an absolute device path such as "/dev/ttyGS0" into the path to open.
// Relative paths are returned unchanged.
QByteArray devicePath(const char *path);
QString devicePath(const QString &path);

// Framebuffer variable screen information of an open /dev/fb0.
// Returns 0 and fills the three values, or -1 when the query fails.
int framebufferInfo(int fd, unsigned *xres, unsigned *yres, unsigned *bitsPerPixel);

// I2C adapter requests on an open bus descriptor. 0 on success, -1 on failure.
int i2cSetSlave(int fd, int address);
int i2cQueryFunctions(int fd, unsigned long *functions);

// One bus transfer: a write of n bytes (register address first) or a read of
// n bytes from the register last addressed. Returns the bytes moved or -1.
ssize_t i2cWrite(int fd, const unsigned char *data, size_t n);
ssize_t i2cRead(int fd, unsigned char *data, size_t n);

// Sets the system clock. Returns 0 on success, -1 with errno set otherwise.
int setSystemClock(time_t seconds);

} // namespace platform

#endif
