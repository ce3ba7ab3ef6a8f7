// The readers of the sysroot's /proc files: RAM figures (ASan watches their
// digit capture) and the CPU share. Input: the contents of meminfo, stat and self/stat alike.

#include "fuzz_support.h"
#include "hdw_config.h"
#include "platform.h"

namespace {

HDW_config *hw = nullptr;
QStringList paths;

void run(const uint8_t *data, size_t size)
{
    for (const QString &path : paths)
        fuzz::writeFile(path, data, size);
    fuzz::expect(hw->checkSysRam() == 0, "a readable /proc/meminfo is read");
    fuzz::expect(hw->readTotalRamSize() <= 999999999ul && hw->readFreeRamSize() <= 3 * 999999999ul, "RAM figures of at most nine digits");
    hw->get_cpu_usage();
    hw->get_cpu_usage();
}

QByteArray prepare()
{
    for (const char *path : { "/proc/meminfo", "/proc/stat", "/proc/self/stat" })
        paths << platform::devicePath(QString::fromLatin1(path)); // the files the readers open
    fuzz::writeFile(paths.last(), nullptr, 0);
    // Once: it keeps the stat files open, as on the panel, and reads each input through them.
    hw = new HDW_config;
    return "MemTotal: 1024000 kB\nMemFree: 512000 kB\nBuffers: 16000 kB\nCached: 128000 kB\n";
}

} // namespace

KVX_FUZZ_TARGET(run, prepare)
