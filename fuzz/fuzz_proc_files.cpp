// The readers of the kernel's /proc files (in the sysroot): the RAM figures
// from /proc/meminfo with their digit capture, and the CPU share from
// /proc/stat and the process's own stat file.
//
// Input: the file's contents, written as proc/meminfo, proc/stat and
// proc/self/stat (where the simulation finds the process's own) alike.

#include "fuzz_support.h"
#include "hdw_config.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstring>
#include <vector>

namespace {

HDW_config *hw = nullptr;
QString meminfoPath;
QString statPath;
QString pidStatPath;

// The digits of text in order, as many as fit a buffer of limit bytes.
void checkDigitCapture(const std::vector<char> &text, int limit)
{
    int digits = 0;
    for (const char *p = text.data(); *p; ++p)
        digits += *p >= '0' && *p <= '9';

    std::vector<char> out(static_cast<size_t>(limit) + 1, '\x7f');
    std::vector<char> in(text);
    const int got = hw->captureNumString(out.data(), in.data(), limit);
    if (digits + 1 > limit) {
        fuzz::expect(got == -1 && out[0] == '\0', "too many digits give -1 and an empty text");
        return;
    }
    fuzz::expect(got == digits, "every digit is captured");
    fuzz::expect(strlen(out.data()) == static_cast<size_t>(digits), "the digits are terminated");
    fuzz::expect(out[static_cast<size_t>(limit)] == '\x7f', "the capture stays inside its limit");
}

void run(const uint8_t *data, size_t size)
{
    fuzz::writeFile(meminfoPath, data, size);
    fuzz::writeFile(statPath, data, size);
    fuzz::writeFile(pidStatPath, data, size);

    fuzz::expect(hw->checkSysRam() == 0, "a readable /proc/meminfo is read");
    // Nine digits at most make a figure.
    fuzz::expect(hw->readTotalRamSize() <= 999999999ul, "total RAM of at most nine digits");
    fuzz::expect(hw->readFreeRamSize() <= 3 * 999999999ul, "free RAM of three such figures");

    std::vector<char> text(data, data + size);
    text.push_back('\0');
    for (int limit : { 1, 2, 10, 64 })
        checkDigitCapture(text, limit);

    hw->get_cpu_usage();
    hw->get_cpu_usage();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::setUp(argc, argv);
    meminfoPath = fuzz::sysrootPath(QStringLiteral("proc/meminfo"));
    statPath = fuzz::sysrootPath(QStringLiteral("proc/stat"));
    pidStatPath = fuzz::sysrootPath(QStringLiteral("proc/self/stat"));
    QDir().mkpath(QFileInfo(pidStatPath).absolutePath());
    fuzz::writeFile(pidStatPath, nullptr, 0);
    // Constructed once: it opens the two stat files and keeps them open, as
    // on the panel, so the CPU share reads each new input through them.
    hw = new HDW_config;
    static const char warmUp[] = "MemTotal: 1024000 kB\nMemFree: 512000 kB\nBuffers: 16000 kB\nCached: 128000 kB\n";
    // Whatever Qt sets up once, on first use, is in place before the first input.
    run(reinterpret_cast<const uint8_t *>(warmUp), sizeof warmUp - 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzz::runChecked(run, data, size);
}
