// On-demand measurements of the running panel: display geometry, root file
// system, RAM, this process's CPU share and the CAN interface. Every reading
// goes back to its source; only the two CPU stat files stay open.

#include "hdw_config.h"

#include "platform.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

void HDW_config::openCpuUsageSources()
{
    // Closed first so that a second call reopens rather than fails.
    procPidStatFile.close();
    procStatFile.close();

    procPidStatFile.setFileName(
        platform::devicePath(QStringLiteral("/proc/%1/stat").arg(QCoreApplication::applicationPid())));
    if (!procPidStatFile.open(QIODevice::ReadOnly))
        printf("HWI: Read <PID>/stat error\n");

    procStatFile.setFileName(platform::devicePath(QStringLiteral("/proc/stat")));
    if (!procStatFile.open(QIODevice::ReadOnly))
        printf("HWI: Read /proc/stat error\n");
}

int HDW_config::checkSysLcd()
{
    const QByteArray path = platform::devicePath("/dev/fb0");
    const int fd = path.isEmpty() ? -1 : ::open(path.constData(), O_RDWR);
    if (fd < 0) {
        printf("HWI: Framebuffer Open Err\n");
        return -1;
    }
    unsigned xres = 0, yres = 0, bpp = 0;
    if (platform::framebufferInfo(fd, &xres, &yres, &bpp) != 0) {
        printf("HWI: Framebuffer Info Read Err");
        ::close(fd);
        return -1;
    }
    lcdVerticalSize = yres;
    lcdHorizontalSize = xres;
    lcdColorDepth = bpp;
    ::close(fd);
    return 0;
}

unsigned long HDW_config::readLcdVerticalSize() { return checkSysLcd() == 0 ? lcdVerticalSize : 0; }

unsigned long HDW_config::readLcdHorizontalSize() { return checkSysLcd() == 0 ? lcdHorizontalSize : 0; }

unsigned long HDW_config::readLcdColorDepth() { return checkSysLcd() == 0 ? lcdColorDepth : 0; }

int HDW_config::checkSysFlash()
{
    struct statvfs fs;
    if (statvfs(platform::devicePath("/").constData(), &fs) != 0) {
        printf("HWI: Read Disk Info Err\n");
        return -1;
    }
    // Whole kilobytes per block; the figures are 32-bit as the host expects.
    const quint32 kPerBlock = static_cast<quint32>(fs.f_bsize >> 10);
    const quint32 totalKb = static_cast<quint32>(fs.f_blocks) * kPerBlock;
    const quint32 freeKb = static_cast<quint32>(fs.f_bfree) * kPerBlock;
    totalFlashSize = totalKb;
    freeFlashSize = freeKb;
    return 0;
}

unsigned long HDW_config::readTotalFlashSize() { return checkSysFlash() == 0 ? totalFlashSize : 0; }

unsigned long HDW_config::readFreeFlashSize() { return checkSysFlash() == 0 ? freeFlashSize : 0; }

int HDW_config::captureNumString(char *digits, char *text, int limit)
{
    int count = 0;
    for (const char *p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            continue;
        // The output holds limit - 1 digits and the terminator.
        if (count + 1 >= limit) {
            digits[0] = '\0';
            return -1;
        }
        digits[count++] = *p;
    }
    digits[count] = '\0';
    return count;
}

int HDW_config::checkSysRam()
{
    FILE *f = fopen(platform::devicePath("/proc/meminfo").constData(), "r");
    if (!f) {
        printf("HWI: Read Mem Info Err\n");
        return -1;
    }

    unsigned long memFree = 0, buffers = 0, cached = 0;
    int found = 0;
    char *line = nullptr;
    size_t capacity = 0;
    char number[10];
    // Nine digits at most: a longer figure is not taken as a number.
    const int limit = static_cast<int>(sizeof number);

    while (getline(&line, &capacity, f) != -1) {
        if (strncmp(line, "MemTotal", 8) == 0) {
            totalRamSize = captureNumString(number, line + 8, limit) > 0 ? strtoul(number, nullptr, 10) : 0;
            ++found;
        }
        if (strncmp(line, "MemFree", 7) == 0) {
            if (captureNumString(number, line + 7, limit) > 0)
                memFree = strtoul(number, nullptr, 10);
            ++found;
        }
        if (strncmp(line, "Buffers", 7) == 0) {
            if (captureNumString(number, line + 7, limit) > 0)
                buffers = strtoul(number, nullptr, 10);
            ++found;
        }
        if (strncmp(line, "Cached", 6) == 0) {
            if (captureNumString(number, line + 6, limit) > 0)
                cached = strtoul(number, nullptr, 10);
            ++found;
        }
        if (found > 3)
            break;
    }

    freeRamSize = memFree + buffers + cached;
    free(line);
    fclose(f);
    return 0;
}

unsigned long HDW_config::readTotalRamSize() { return checkSysRam() == 0 ? totalRamSize : 0; }

unsigned long HDW_config::readFreeRamSize() { return checkSysRam() == 0 ? freeRamSize : 0; }

// The first line of a kept-open stat file, read afresh.
static QString firstLine(QFile &file)
{
    if (!file.isOpen() || !file.seek(0))
        return QString();
    return QString::fromLatin1(file.readLine()).trimmed();
}

int HDW_config::get_cpu_usage()
{
    // A line that does not have the expected shape gives no sample: the
    // previous one is kept so that the next good pair measures correctly.
    const QStringList proc = firstLine(procPidStatFile).split(QLatin1Char(' '), Qt::KeepEmptyParts);
    if (proc.size() < 16)
        return 0;
    const quint32 utime = proc.at(13).toUInt();
    const quint32 stime = proc.at(14).toUInt();
    const quint32 cutime = proc.at(15).toUInt();

    QString system = firstLine(procStatFile);
    if (system.isEmpty())
        return 0;
    system.remove(QStringLiteral("cpu  "));
    const QStringList ticks = system.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    if (ticks.size() != 10)
        return 0;
    quint32 total = 0;
    for (int i = 0; i < 7; ++i)
        total += ticks.at(i).toUInt();

    quint32 usage = 0;
    if (cpuSampled && total != static_cast<quint32>(prevCpuTotal)) {
        const quint32 previous = static_cast<quint32>(prevProcUtime + prevProcStime + prevProcCutime);
        usage = (utime + stime + cutime - previous) * 100u / (total - static_cast<quint32>(prevCpuTotal));
    }

    prevProcUtime = utime;
    prevProcStime = stime;
    prevProcCutime = cutime;
    prevCpuTotal = total;
    cpuSampled = true;
    return static_cast<int>(usage);
}

int HDW_config::readFlexcanPortCount()
{
    return QFileInfo::exists(platform::devicePath(QStringLiteral("/sys/class/net/can0"))) ? 1 : 0;
}
