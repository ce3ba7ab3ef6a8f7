// Output settings the host configures (digital I/O, PWM, alarms, RS-485
// direction pin, battery-low check) and the display backlight.
//
// Only the backlight and the battery-low check act at once; the other
// settings change the record and reach sys_conf.txt with the next save.

#include "hdw_config.h"

#include "platform.h"
#include "safe_file.h"

#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int dioChannelCount = 16;
const int pwmChannelCount = 4;
const int alarmCount = 2;

// Boards differ in which backlight device the kernel registers.
const char *const backlightDevices[] = {
    "/sys/class/backlight/backlight2.18/brightness",
    "/sys/class/backlight/backlight2.17/brightness",
};

int openBacklight(int flags)
{
    for (const char *device : backlightDevices) {
        const QByteArray path = platform::devicePath(device);
        if (path.isEmpty())
            continue;
        const int fd = ::open(path.constData(), flags | O_CLOEXEC);
        if (fd >= 0)
            return fd;
    }
    return -1;
}

} // namespace

// The console keeps channel numbers within range; the checks below only keep
// a stray caller from writing past the record's arrays.

void HDW_config::confDigiOut(int channel, int level, int direction)
{
    if (channel < 0 || channel >= dioChannelCount) {
        printf("HWI: DIO-%d out of range\n", channel);
        return;
    }
    hwcfg_data.dioDir[channel] = direction;
    hwcfg_data.dioLevel[channel] = level;
    // A channel read as an input since start-up holds its GPIO value file
    // open; whatever it becomes now, that descriptor is no longer wanted.
    if (hwcfg_data.dioFd[channel] > 0)
        ::close(hwcfg_data.dioFd[channel]);
    hwcfg_data.dioFd[channel] = 0;
    printf("HWI: DIO-%d-%d-%d\n", channel, level, direction);
}

void HDW_config::confPWMOut(int channel, int state)
{
    if (channel < 0 || channel >= pwmChannelCount) {
        printf("HWI: PWM-%d out of range\n", channel);
        return;
    }
    hwcfg_data.pwmOut[channel] = state;
    printf("HWI: PWM-%d-%d\n", channel, state);
}

void HDW_config::confAlmOut(int alarm, int state)
{
    if (alarm < 1 || alarm > alarmCount) {
        printf("HWI: ALM-%d out of range\n", alarm);
        return;
    }
    hwcfg_data.almOut[alarm - 1] = state;
    printf("HWI: ALM-%d-%d\n", alarm, state);
}

void HDW_config::confRs485DirectionPin(int value)
{
    hwcfg_data.rs485DirPin = value;
    printf("HWI: DIR-%d\n", value);
}

void HDW_config::confBatteryLowCheck(bool enable)
{
    hwcfg_data.batLowCheck = enable;
    if (!writeFileSafely(QStringLiteral("lowBatteryConf.txt"), enable ? "CKB<1>\n" : "CKB<0>\n")) {
        printf("HWI: Can't WR Low Bat. Conf. File\n");
        return;
    }
    printf(enable ? "HWI: Bat. Chk ON\n" : "HWI: Bat. Chk Off\n");
}

int HDW_config::readDigiInputOutputPinCount() { return dioChannelCount; }

int HDW_config::readPwmOutputPinCount() { return pwmChannelCount; }

int HDW_config::readAlarmOutputPinCount() { return alarmCount; }

int HDW_config::readDigiInputOutputDirection(int channel)
{
    if (channel < 0 || channel >= dioChannelCount)
        return -1;
    return hwcfg_data.dioDir[channel];
}

int HDW_config::readRs485DirectionPinConf() { return hwcfg_data.rs485DirPin; }

void HDW_config::setBackLight(int percent)
{
    // No O_CREAT: a board without this device must not get a stray file.
    // O_TRUNC keeps a shorter value from leaving digits of a longer one
    // behind where the device is a plain file.
    const int fd = openBacklight(O_WRONLY | O_TRUNC);
    if (fd < 0) {
        printf("HWI: BKlt Sys File Err\n");
    } else {
        char text[16];
        const int len = snprintf(text, sizeof text, "%d", qMax(percent / 5, 0));
        if (::write(fd, text, static_cast<size_t>(len)) != len)
            printf("HWI: BKlt Set Err\n");
        ::close(fd);
    }
    hwcfg_data.backlight = percent;
    printf("HWI: Set BkLt %d\n", percent);
}

int HDW_config::readBackLight()
{
    const int fd = openBacklight(O_RDONLY);
    if (fd < 0) {
        printf("HWI: BKlt Sys File Err\n");
        return -1;
    }
    char text[5] = {};
    const ssize_t got = ::read(fd, text, 4);
    ::close(fd);
    if (got <= 0) {
        printf("HWI: BKlt Set Err\n");
        return -1;
    }
    // The kernel counts 0..20; anything it reports beyond that is full
    // brightness, and nothing it reports is below dark.
    const int value = atoi(text);
    return qBound(0, value * 5, 100);
}
