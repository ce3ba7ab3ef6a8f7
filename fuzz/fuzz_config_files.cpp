// The readers of the configuration files, run by HDW_config's constructor.
// Input: a byte choosing the file, then its contents; the other four are absent.

#include "fuzz_support.h"
#include "hdw_config.h"

#include <cstring>

namespace {

const char *const files[] = { "sys_conf.txt", "device_name.txt", "lowBatteryConf.txt", "version.txt", "timezone.cfg" };

// The serial number the sysroot's fuses give, noted before the first input.
char fusedSerial[sizeof hwcfg_data.serialNo];

void run(const uint8_t *data, size_t size)
{
    if (size == 0)
        return;
    for (const char *file : files)
        QFile::remove(QString::fromLatin1(file));
    fuzz::writeFile(QString::fromLatin1(files[data[0] % (sizeof files / sizeof *files)]), data + 1, size - 1);
    // Whatever a file holds, the record keeps values the report and the next save can use.
    HDW_config hw;
    fuzz::checkRecord(false);
    fuzz::expect(strcmp(hwcfg_data.serialNo, fusedSerial) == 0 && qAbs(hw.currentTimeZone()) <= 720, "serial from the fuses, zone within 12 h");
}

QByteArray prepare()
{
    {
        HDW_config fromFuses;
        memcpy(fusedSerial, hwcfg_data.serialNo, sizeof fusedSerial);
    }
    return QByteArray(1, '\0') + "BLK<080>\nDIO<00>I\nDIO<01>H\nPWM<1>H\nALM<02>L\nCOM<0>Y\nDIR<1>\nORI<1>\n";
}

} // namespace

KVX_FUZZ_TARGET(run, prepare)
