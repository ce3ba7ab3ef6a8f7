// Every reader of the configuration files in the working directory:
// sys_conf.txt, device_name.txt, lowBatteryConf.txt, version.txt and
// timezone.cfg, each read once by the HDW_config constructor.
//
// Input: one byte that chooses the file, then the file's contents. The other
// four files are absent, so their readers take their defaults.

#include "fuzz_support.h"
#include "hdw_config.h"

#include <cstring>

namespace {

const char *const files[] = { "sys_conf.txt", "device_name.txt", "lowBatteryConf.txt", "version.txt",
                              "timezone.cfg" };
const size_t fileCount = sizeof files / sizeof files[0];

// The serial number the sysroot's fuses give, noted on the first input.
char fusedSerial[sizeof hwcfg_data.serialNo];

bool oneOf(int value, int low, int high)
{
    return value >= low && value <= high;
}

// Whatever a file holds, the record comes out with values that the panel,
// the hardware report and the next save can use.
void checkRecord(HDW_config &hw)
{
    const hwcfg_struct &d = hwcfg_data;
    fuzz::expect(oneOf(d.backlight, 0, 100), "backlight 0..100");
    for (int i = 0; i < 16; ++i) {
        fuzz::expect(oneOf(d.dioDir[i], 0, 2), "DIO direction 0..2");
        fuzz::expect(oneOf(d.dioLevel[i], 0, 1), "DIO level 0 or 1");
        // Only a channel read as an input holds its GPIO value file open.
        if (d.dioDir[i] != 1)
            fuzz::expect(d.dioFd[i] == 0, "no descriptor for a channel that is no input");
    }
    for (int state : d.pwmOut)
        fuzz::expect(oneOf(state, 0, 1), "PWM state 0 or 1");
    for (int state : d.almOut)
        fuzz::expect(oneOf(state, 0, 1), "alarm state 0 or 1");
    fuzz::expect(oneOf(d.rs485DirPin, 0, 1), "RS-485 direction pin 0 or 1");
    fuzz::expect(oneOf(d.orientation, 0, 1), "orientation 0 or 1");
    fuzz::expect(strnlen(d.devName, sizeof d.devName) <= 40, "device name of at most 40 characters");
    fuzz::expect(strnlen(d.firmwareVersion, sizeof d.firmwareVersion) <= 14, "firmware version of 14");
    fuzz::expect(strnlen(d.appVersion, sizeof d.appVersion) <= 14, "application version of 14");
    fuzz::expect(strcmp(d.serialNo, fusedSerial) == 0, "the serial number comes from the fuses only");
    fuzz::expect(oneOf(hw.currentTimeZone(), -720, 720), "time-zone offset within 12 hours");
}

void run(const uint8_t *data, size_t size)
{
    if (size == 0)
        return;
    const char *chosen = files[data[0] % fileCount];
    for (const char *file : files)
        fuzz::removeFile(QString::fromLatin1(file));
    fuzz::writeFile(QString::fromLatin1(chosen), data + 1, size - 1);
    HDW_config hw;
    checkRecord(hw);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::setUp(argc, argv);
    {
        HDW_config fromFuses;
        memcpy(fusedSerial, hwcfg_data.serialNo, sizeof fusedSerial);
    }
    static const char warmUp[] = "\0BLK<080>\nDIO<00>I\nDIO<01>H\nPWM<1>H\nALM<02>L\nCOM<0>Y\nDIR<1>\nORI<1>\n";
    // Whatever Qt sets up once, on first use, is in place before the first input.
    run(reinterpret_cast<const uint8_t *>(warmUp), sizeof warmUp - 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzz::runChecked(run, data, size);
}
