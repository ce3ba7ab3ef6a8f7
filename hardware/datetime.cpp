// Setting the date, the time and the time-zone offset from the host's text.
// The offset is only stored and reported; the clock itself keeps local time.

#include "hdw_config.h"

#include "platform.h"
#include "rtc_chip.h"
#include "safe_file.h"

#include <QDateTime>
#include <QStringList>
#include <QtDebug>
#include <cstdio>
#include <cstring>

static const int maxTimeZoneMinutes = 720;

bool HDW_config::setExternalRTC(bool resetReminder, bool withTimeZone, QString *text)
{
    const QString received = text ? *text : QString();
    const QStringList fields = received.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);

    const bool timeZonePath = withTimeZone && fields.size() == 3;
    const bool dateOnlyPath = !withTimeZone && fields.size() >= 2;
    if (!timeZonePath && !dateOnlyPath) {
        qDebug("Wrong datetime: %s", qPrintable(received));
        return false;
    }

    if (timeZonePath && !setExternalTimeZone(fields.at(2)))
        return false;

    const QDateTime when = QDateTime::fromString(fields.at(0) + QLatin1Char(' ') + fields.at(1),
                                                 QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz"));
    if (!when.isValid()) {
        qDebug("Wrong datetime: %s", qPrintable(received));
        return false;
    }

    // The C library fills in the day of the week the chip wants.
    const QByteArray seconds = when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toLatin1();
    memset(&rtcTime, 0, sizeof rtcTime);
    const char *end = strptime(seconds.constData(), "%Y-%m-%d %H:%M:%S", &rtcTime);
    if (!end || *end != '\0') {
        // Without a broken-down time there is nothing sound to set the
        // clocks to, so nothing is set.
        printf("Date-Time String invalid. Format:YYYY-MM-DD HH:MM:SS\n");
        return false;
    }

    setClockChipTime();

    // Local time, with daylight saving decided by the time zone rules.
    rtcTime.tm_isdst = -1;
    const time_t calendar = mktime(&rtcTime);
    if (calendar == static_cast<time_t>(-1) || platform::setSystemClock(calendar) != 0) {
        printf("HWI: Set Sys RTC Fail\n");
        return false;
    }

    setClockChipControl(resetReminder);
    return true;
}

// The offset part of a DTIM text: stored, saved and announced when valid.
bool HDW_config::setExternalTimeZone(const QString &field)
{
    bool ok = false;
    const int minutes = field.toInt(&ok, 10);
    if (!ok) {
        qDebug("TZ minute offset %s is not valid", qPrintable(field));
        return false;
    }
    qDebug("TZ offset : %d min", minutes);
    if (minutes < -maxTimeZoneMinutes || minutes > maxTimeZoneMinutes) {
        qDebug("TZ offset > +/-720min");
        return false;
    }
    timeZoneOffset = minutes;
    // A file that cannot be written is skipped: the offset holds until
    // the next start all the same.
    writeFileSafely(QStringLiteral("timezone.cfg"), QByteArray::number(minutes));
    emit timeZoneChanged(minutes);
    return true;
}

// The time registers, from rtcTime as the host gave it.
void HDW_config::setClockChipTime()
{
    if (extRtcPresent) {
        const unsigned char timeRegisters[7] = {
            static_cast<unsigned char>(int_to_bcd(rtcTime.tm_sec)),
            static_cast<unsigned char>(int_to_bcd(rtcTime.tm_min)),
            static_cast<unsigned char>(int_to_bcd(rtcTime.tm_hour)),
            static_cast<unsigned char>(int_to_bcd(rtcTime.tm_mday)),
            static_cast<unsigned char>(int_to_bcd(rtcTime.tm_wday)),
            static_cast<unsigned char>(int_to_bcd(rtcTime.tm_mon + 1)),
            static_cast<unsigned char>(int_to_4_byte_bcd(rtcTime.tm_year + 1900) & 0xFF),
        };
        if (rtcWriteRegisters(rtc_chip::Seconds, timeRegisters, 7))
            printf("HWI: Set Ext. RTC\n");
        else
            printf("RTC: Error\n");
    }
}

// After the time: countdown and flags cleared, the EEPROM settings written,
// and a running battery reminder started afresh unless the caller resets it.
void HDW_config::setClockChipControl(bool resetReminder)
{
    if (extRtcPresent) {
        bool reminderRunning = false;
        if (!resetReminder) {
            unsigned char control[3];
            reminderRunning = rtcReadRegisters(rtc_chip::Control1, control, 3) && (control[0] & rtc_chip::TimerBit);
        }

        if (!rtcWriteRegisters(rtc_chip::Control1, rtc_chip::ControlAfterSet, 4))
            printf("RTC: Error\n");

        const int locked = setExtRTC_EEPROM_lock(1);
        if (locked) {
            for (const rtc_chip::EepromSetting &setting : rtc_chip::EepromSettings)
                writeByteToRTC_EEPROM(static_cast<char>(setting.address), static_cast<char>(setting.value));
        }
        const int unlocked = setExtRTC_EEPROM_lock(0);
        if (!locked || !unlocked)
            printf("HWI: Cfg RTC Err\n");

        if (hwcfg_data.batLowCheck) {
            if (reminderRunning) {
                DisableExtRTC_CountDownTimer();
                setExtRTC_CountDownTimer(rtc_chip::ReminderTicks);
                printf("RTC: Restore CntDwn\n");
            } else {
                printf("RTC: Reset LowBat & CntDwn\n");
            }
        }
    } else if (hwcfg_data.batLowCheck) {
        printf("RTC: Reset LowBat & CntDwn\n");
    }
}

void HDW_config::setTimeZone(int minutes)
{
    if (minutes >= -maxTimeZoneMinutes && minutes <= maxTimeZoneMinutes)
        timeZoneOffset = minutes;
}

int HDW_config::currentTimeZone() { return timeZoneOffset; }
