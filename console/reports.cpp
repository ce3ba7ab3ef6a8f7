// The hardware configuration report and the time-zone reply.

#include "usb_console.h"

#include "hdw_config.h"
#include "report_tags.h"

#include <QString>
#include <cstdio>

// The oldest designer release that can work with this panel.
static const char minDesignerVersion[] = "2.0.0.2552";

// The offset in minutes, right-aligned in four characters ("   0", " -60").
static QString timeZoneField(int minutes) { return QString::number(minutes).rightJustified(4, QLatin1Char(' ')); }

// Appends one "<TAG:value>". Values are concatenated, never passed through a
// formatter, so a stored "%1" or "<" reaches the host exactly as stored.
static void appendTag(QString &text, report::TagIndex tag, const QString &value)
{
    text += QLatin1Char('<');
    text += QLatin1String(report::tags[tag].name);
    text += QLatin1Char(':');
    text += value;
    text += QLatin1Char('>');
}

static QString stored(const char *text) { return QString::fromUtf8(text); }

// Counts and sizes go to the host as 32-bit unsigned figures.
static QString unsignedField(unsigned long value) { return QString::number(static_cast<quint32>(value)); }

void USB_console::ReportHwCfg()
{
    printf("CXM: HWCF\n");

    // One statement per accessor keeps the measurements in the host's order.
    QString text;
    appendTag(text, report::SerialNo, stored(hwConfig->readSerialNo()));
    appendTag(text, report::Model, stored(hwConfig->modelNumber()));
    appendTag(text, report::FirmwareVersion, stored(hwConfig->firmwareVersion()));
    appendTag(text, report::DeviceAppVersion, stored(hwConfig->devAppVersion()));
    appendTag(text, report::DesignerVersion, QLatin1String(minDesignerVersion));
    appendTag(text, report::DeviceName, stored(hwConfig->devName()));
    appendTag(text, report::AdcChannels, QString::number(hwConfig->readAdcChannelCount()));
    appendTag(text, report::LcdHeight, unsignedField(hwConfig->readLcdVerticalSize()));
    appendTag(text, report::LcdWidth, unsignedField(hwConfig->readLcdHorizontalSize()));
    appendTag(text, report::LcdDepth, unsignedField(hwConfig->readLcdColorDepth()));
    appendTag(text, report::AlarmChannels, unsignedField(static_cast<quint32>(hwConfig->readAlarmOutputPinCount())));
    appendTag(text, report::PwmChannels, unsignedField(static_cast<quint32>(hwConfig->readPwmOutputPinCount())));
    appendTag(text, report::DigitalChannels,
              unsignedField(static_cast<quint32>(hwConfig->readDigiInputOutputPinCount())));
    appendTag(text, report::TotalRam, unsignedField(hwConfig->readTotalRamSize()));
    appendTag(text, report::FreeRam, unsignedField(hwConfig->readFreeRamSize()));
    appendTag(text, report::TotalFlash, unsignedField(hwConfig->readTotalFlashSize()));
    appendTag(text, report::FreeFlash, unsignedField(hwConfig->readFreeFlashSize()));
    appendTag(text, report::PhysicalAddress, stored(hwConfig->readPhysicalAddress()));
    appendTag(text, report::Backlight, QString::number(hwConfig->readBackLight()));
    appendTag(text, report::RetrievePassword, hwConfig->readRetreivePSWD());
    appendTag(text, report::UploadPassword, hwConfig->readUploadPSWD());
    appendTag(text, report::ReportFlag, QStringLiteral("0"));
    appendTag(text, report::TimeZone, timeZoneField(hwConfig->currentTimeZone()));
    text += QLatin1String(report::EndMark);

    // Characters outside Latin-1 leave as '?'.
    writeText(text.toLatin1());
}

void USB_console::reportLocalTimeZone()
{
    QString reply = QStringLiteral("<LOTIZO:");
    reply += timeZoneField(hwConfig->currentTimeZone());
    reply += QLatin1Char('>');
    writeText(reply.toLatin1());
}
