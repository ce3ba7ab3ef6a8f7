// The panel build: real device paths and real device requests.

#include "platform.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <linux/fb.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

int init() { return -1; }

QByteArray devicePath(const char *path) { return QByteArray(path); }

int framebufferInfo(int fd, unsigned *xres, unsigned *yres, unsigned *bitsPerPixel)
{
    struct fb_var_screeninfo info
    {
    };
    if (ioctl(fd, FBIOGET_VSCREENINFO, &info) < 0)
        return -1;
    *xres = info.xres;
    *yres = info.yres;
    *bitsPerPixel = info.bits_per_pixel;
    return 0;
}

int i2cSetSlave(int fd, int address) { return ioctl(fd, I2C_SLAVE, address) < 0 ? -1 : 0; }

int i2cQueryFunctions(int fd, unsigned long *functions) { return ioctl(fd, I2C_FUNCS, functions) < 0 ? -1 : 0; }

ssize_t i2cWrite(int fd, const unsigned char *data, size_t n) { return write(fd, data, n); }

ssize_t i2cRead(int fd, unsigned char *data, size_t n) { return read(fd, data, n); }

int setSystemClock(time_t seconds)
{
    struct timespec ts
    {
    };
    ts.tv_sec = seconds;
    return clock_settime(CLOCK_REALTIME, &ts);
}

} // namespace platform
