// The hardware configuration report and the time-zone reply.

#include "usb_console.h"

#include "hdw_config.h"

#include <QString>
#include <cstdio>

// The oldest designer release that can work with this panel.
static const char minDesignerVersion[] = "2.0.0.2552";

// The offset in minutes, right-aligned in four characters ("   0", " -60").
static QString timeZoneField(int minutes)
{
    return QString::number(minutes).rightJustified(4, QLatin1Char(' '));
}

// Appends one "<TAG:value>". Values are concatenated, never passed through a
// formatter, so a stored "%1" or "<" reaches the host exactly as stored.
static void appendTag(QString &report, const char *tag, const QString &value)
{
    report += QLatin1Char('<');
    report += QLatin1String(tag);
    report += QLatin1Char(':');
    report += value;
    report += QLatin1Char('>');
}

static QString stored(const char *text)
{
    return QString::fromUtf8(text);
}

// Counts and sizes go to the host as 32-bit unsigned figures.
static QString unsignedField(unsigned long value)
{
    return QString::number(static_cast<quint32>(value));
}

void USB_console::ReportHwCfg()
{
    printf("CXM: HWCF\n");

    // One statement per accessor keeps the measurements in the host's order.
    QString report;
    appendTag(report, "SER_NO", stored(hwConfig->readSerialNo()));
    appendTag(report, "MODELS", stored(hwConfig->modelNumber()));
    appendTag(report, "FIRMWD", stored(hwConfig->firmwareVersion()));
    appendTag(report, "DEVAPP", stored(hwConfig->devAppVersion()));
    appendTag(report, "DESAPP", QLatin1String(minDesignerVersion));
    appendTag(report, "DEVNAM", stored(hwConfig->devName()));
    appendTag(report, "ADCCHN", QString::number(hwConfig->readAdcChannelCount()));
    appendTag(report, "LCDVER", unsignedField(hwConfig->readLcdVerticalSize()));
    appendTag(report, "LCDHOR", unsignedField(hwConfig->readLcdHorizontalSize()));
    appendTag(report, "LCDBBP", unsignedField(hwConfig->readLcdColorDepth()));
    appendTag(report, "ALM_CH", unsignedField(static_cast<quint32>(hwConfig->readAlarmOutputPinCount())));
    appendTag(report, "PWM_CH", unsignedField(static_cast<quint32>(hwConfig->readPwmOutputPinCount())));
    appendTag(report, "DIO_CH", unsignedField(static_cast<quint32>(hwConfig->readDigiInputOutputPinCount())));
    appendTag(report, "TRAMSZ", unsignedField(hwConfig->readTotalRamSize()));
    appendTag(report, "FRAMSZ", unsignedField(hwConfig->readFreeRamSize()));
    appendTag(report, "TFLHSZ", unsignedField(hwConfig->readTotalFlashSize()));
    appendTag(report, "FFLHSZ", unsignedField(hwConfig->readFreeFlashSize()));
    appendTag(report, "PHYADD", stored(hwConfig->readPhysicalAddress()));
    appendTag(report, "BKLT", QString::number(hwConfig->readBackLight()));
    appendTag(report, "RTRPW", hwConfig->readRetreivePSWD());
    appendTag(report, "UPDPW", hwConfig->readUploadPSWD());
    appendTag(report, "REPORT", QStringLiteral("0"));
    appendTag(report, "LOTIZO", timeZoneField(hwConfig->currentTimeZone()));
    report += QLatin1String("<HWCFEND>");

    // Characters outside Latin-1 leave as '?'.
    writeText(report.toLatin1());
}

void USB_console::reportLocalTimeZone()
{
    QString reply = QStringLiteral("<LOTIZO:");
    reply += timeZoneField(hwConfig->currentTimeZone());
    reply += QLatin1Char('>');
    writeText(reply.toLatin1());
}
