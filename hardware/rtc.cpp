// The battery-backed clock chip on I2C bus 2: detection, setting the system
// clock from it, the battery-low warning with its 12-hour reminder driven by
// the chip's own countdown timer, and the register primitives used when the
// host sets the date and time.

#include "hdw_config.h"

#include "platform.h"
#include "rtc_chip.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace rtc_chip;

const int reminderSeconds = ReminderTicks * 2;

// The reminder is a countdown of hours; looking at it once a minute is plenty.
const int batteryCheckIntervalMs = 60 * 1000;

// An EEPROM write takes the chip a few milliseconds; a chip still busy (or a
// bus still failing) after a second is not going to recover by waiting.
const int eepromWriteBudgetMs = 1000;
const unsigned long eepromPollPauseMs = 5;

int bcdDigits(unsigned char byte, unsigned char tensMask) { return (byte & 0x0F) + 10 * ((byte & tensMask) >> 4); }

} // namespace

bool HDW_config::rtcReadRegisters(unsigned char address, unsigned char *data, int n)
{
    if (n <= 0)
        return false;
    if (platform::i2cWrite(rtcFd, &address, 1) != 1)
        return false;
    return platform::i2cRead(rtcFd, data, static_cast<size_t>(n)) == n;
}

bool HDW_config::rtcWriteRegisters(unsigned char address, const unsigned char *data, int n)
{
    // Address and data must leave in one transfer: the chip takes the first
    // byte of a write as the register pointer for the bytes that follow.
    unsigned char frame[16];
    if (n < 0 || n + 1 > static_cast<int>(sizeof frame))
        return false;
    frame[0] = address;
    if (n > 0)
        memcpy(frame + 1, data, static_cast<size_t>(n));
    return platform::i2cWrite(rtcFd, frame, static_cast<size_t>(n) + 1) == n + 1;
}

void HDW_config::init_ExternalRTC()
{
    extRtcPresent = false;
    if (rtcFd >= 0)
        ::close(rtcFd);

    // Close-on-exec: the installer and the host's command lines run as child
    // processes and have no business holding the bus.
    const QByteArray bus = platform::devicePath("/dev/i2c-2");
    rtcFd = bus.isEmpty() ? -1 : ::open(bus.constData(), O_RDWR | O_CLOEXEC);
    if (rtcFd < 0)
        printf("HWI: RTC i2c bus error\n");
    if (platform::i2cSetSlave(rtcFd, SlaveAddress) < 0)
        printf("HWI: RTC i2c addr error\n");
    unsigned long functions = 0;
    if (platform::i2cQueryFunctions(rtcFd, &functions) < 0)
        printf("HWI: RTC i2c func error\n");

    unsigned char control[5];
    if (!rtcReadRegisters(Control1, control, 5)) {
        printf("No Ext. RTC\n");
        return;
    }
    extRtcPresent = true;
    printf("+++RTC\n");

    if (control[Status] & StatusLowVoltage) {
        printf("RTC: BatLow show every: %ds\n", reminderSeconds);
        firstLowBatPending = true;
        DisableExtRTC_CountDownTimer();
        setExtRTC_CountDownTimer(ReminderTicks);
    } else {
        DisableExtRTC_CountDownTimer();
        firstLowBatPending = false;
    }
    resetExtRTC_BatteryLow();

    // Nothing else looks at the chip's countdown, so the warning needs its
    // own periodic caller; checkBatteryLow() honours the check's on/off flag
    // at each call, so switching the check needs no timer changes.
    if (!batteryCheckTimer) {
        batteryCheckTimer = new QTimer(this);
        connect(batteryCheckTimer, &QTimer::timeout, this, &HDW_config::checkBatteryLow);
    }
    batteryCheckTimer->start(batteryCheckIntervalMs);
}

bool HDW_config::isExternalRTC_presence() { return extRtcPresent; }

void HDW_config::syncInternalRTC()
{
    if (!extRtcPresent)
        return;
    const unsigned char address = Seconds;
    if (platform::i2cWrite(rtcFd, &address, 1) != 1) {
        printf("HWI: RTC Error\n");
        return;
    }
    unsigned char t[10];
    if (platform::i2cRead(rtcFd, t, sizeof t) != static_cast<ssize_t>(sizeof t)) {
        printf("RTC: Error\n");
        return;
    }

    memset(&rtcTime, 0, sizeof rtcTime);
    rtcTime.tm_sec = bcdDigits(t[0], 0x70);
    rtcTime.tm_min = bcdDigits(t[1], 0x70);
    rtcTime.tm_hour = bcdDigits(t[2], 0x30);
    rtcTime.tm_mday = bcdDigits(t[3], 0x30);
    rtcTime.tm_wday = t[4] & 0x07;
    rtcTime.tm_mon = (t[5] & 0x0F) + ((t[5] & 0x10) ? 10 : 0) - 1;
    rtcTime.tm_year = 10 * (t[6] >> 4) + (t[6] & 0x0F) + 100;
    // The chip keeps local time without a daylight-saving mark: let the C
    // library work out whether summer time applies at that moment.
    rtcTime.tm_isdst = -1;

    const time_t seconds = mktime(&rtcTime);
    if (seconds == static_cast<time_t>(-1) || platform::setSystemClock(seconds) != 0) {
        printf("RTC: Sync Fail\n");
        return;
    }
    printf("RTC: Sync\n");
}

bool HDW_config::setExtRTC_CountDownTimer(int ticks)
{
    if (!extRtcPresent)
        return false;
    const unsigned char start[2]
        = { static_cast<unsigned char>(ticks & 0xFF), static_cast<unsigned char>((ticks >> 8) & 0xFF) };
    if (!rtcWriteRegisters(TimerLow, start, 2))
        return false;
    unsigned char control[3];
    if (!rtcReadRegisters(Control1, control, 3))
        return false;
    control[0] |= TimerHalfHz | TimerBit;
    control[1] |= TimerBit;
    control[2] &= static_cast<unsigned char>(~TimerBit);
    return rtcWriteRegisters(Control1, control, 3);
}

bool HDW_config::DisableExtRTC_CountDownTimer()
{
    if (!extRtcPresent)
        return false;
    unsigned char control[3];
    if (!rtcReadRegisters(Control1, control, 3))
        return false;
    for (unsigned char &byte : control)
        byte &= static_cast<unsigned char>(~TimerBit);
    return rtcWriteRegisters(Control1, control, 3);
}

bool HDW_config::ExtRTC_CountDown_TimerUp()
{
    if (!extRtcPresent)
        return false;
    unsigned char flags = 0;
    if (!rtcReadRegisters(IntFlags, &flags, 1))
        return false;
    return (flags & TimerBit) != 0;
}

int HDW_config::resetExtRTC_BatteryLow()
{
    const unsigned char cleared = 0x00;
    if (!rtcWriteRegisters(Status, &cleared, 1)) {
        printf("Reset Bat. Low Fail\n");
        return 0;
    }
    return 1;
}

int HDW_config::setExtRTC_EEPROM_lock(int lock)
{
    const unsigned char control = lock ? Control1EepromLocked : Control1EepromOpen;
    if (!rtcWriteRegisters(Control1, &control, 1)) {
        printf("Set Reg. Addr. Fail\n");
        return 0;
    }
    return 1;
}

int HDW_config::writeByteToRTC_EEPROM(char address, char value)
{
    // Each kind of failure is reported once per call: the loop may meet the
    // same one many times within its budget.
    bool busError = false;
    bool readError = false;
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        const unsigned char statusAddress = Status;
        unsigned char status = 0;
        if (platform::i2cWrite(rtcFd, &statusAddress, 1) != 1) {
            if (!busError)
                printf("Can't I2C Error\n");
            busError = true;
        } else if (platform::i2cRead(rtcFd, &status, 1) != 1) {
            if (!readError)
                printf("Can't Read I2C\n");
            readError = true;
        } else if (!(status & StatusEepromBusy)) {
            const unsigned char data = static_cast<unsigned char>(value);
            if (rtcWriteRegisters(static_cast<unsigned char>(address), &data, 1))
                return 1;
            if (!busError)
                printf("Can't I2C Error\n");
            busError = true;
        }
        if (elapsed.elapsed() >= eepromWriteBudgetMs)
            break;
        QThread::msleep(eepromPollPauseMs);
    }
    printf("RTC: EEPROM 0x%02X not written\n", static_cast<unsigned char>(address));
    return 0;
}

void HDW_config::checkBatteryLow()
{
    if (!extRtcPresent || !hwcfg_data.batLowCheck)
        return;
    printf("Chk Bty\n");
    if (firstLowBatPending) {
        printf("RTC: 1st LowBat\n");
        firstLowBatPending = false;
        emit ExternalRTCLowBat();
    }
    if (ExtRTC_CountDown_TimerUp()) {
        printf("RTC: LowBat Remind\n");
        DisableExtRTC_CountDownTimer();
        setExtRTC_CountDownTimer(ReminderTicks);
        emit ExternalRTCLowBat();
    }
}

int HDW_config::int_to_bcd(int value) { return (value % 10) + (((value / 10) * 16) & 0xFF); }

int HDW_config::int_to_4_byte_bcd(int value)
{
    return ((value / 1000) % 10) * 0x1000 + ((value / 100) % 10) * 0x100 + ((value / 10) % 10) * 0x10 + value % 10;
}
