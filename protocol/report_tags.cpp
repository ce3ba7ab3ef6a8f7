#include "report_tags.h"

namespace report {

const Tag tags[TagCount] = {
    { "SER_NO", "serial number" },
    { "MODELS", "model" },
    { "FIRMWD", "firmware version" },
    { "DEVAPP", "device application version" },
    { "DESAPP", "minimum designer version" },
    { "DEVNAM", "device name" },
    { "ADCCHN", "ADC channels" },
    { "LCDVER", "display height (pixels)" },
    { "LCDHOR", "display width (pixels)" },
    { "LCDBBP", "colour depth (bits per pixel)" },
    { "ALM_CH", "alarm outputs" },
    { "PWM_CH", "PWM outputs" },
    { "DIO_CH", "digital inputs/outputs" },
    { "TRAMSZ", "total RAM (KiB)" },
    { "FRAMSZ", "free RAM (KiB)" },
    { "TFLHSZ", "flash size (KiB)" },
    { "FFLHSZ", "free flash (KiB)" },
    { "PHYADD", "physical address" },
    { "BKLT", "backlight (%, -1 unknown)" },
    { "RTRPW", "retrieve password" },
    { "UPDPW", "upload password" },
    { "REPORT", "report flag" },
    { "LOTIZO", "time zone offset (minutes)" },
};

} // namespace report
