#ifndef KVX_REPORT_TAGS_H
#define KVX_REPORT_TAGS_H

// The tags of the hardware configuration report, in the order the panel sends
// them and the host reads them, each with what its value means to a reader.

#include <cstddef>

namespace report {

struct Tag
{
    const char *name;
    const char *meaning;
};

enum TagIndex {
    SerialNo,
    Model,
    FirmwareVersion,
    DeviceAppVersion,
    DesignerVersion,
    DeviceName,
    AdcChannels,
    LcdHeight,
    LcdWidth,
    LcdDepth,
    AlarmChannels,
    PwmChannels,
    DigitalChannels,
    TotalRam,
    FreeRam,
    TotalFlash,
    FreeFlash,
    PhysicalAddress,
    Backlight,
    RetrievePassword,
    UploadPassword,
    ReportFlag,
    TimeZone,
    TagCount
};

extern const Tag tags[TagCount];

// Closes the report after the last tag.
constexpr char EndMark[] = "<HWCFEND>";

} // namespace report

#endif
