// The readers of the sysroot's /proc files: RAM figures and their digit
// capture, the CPU share. Input: the contents of meminfo, stat and self/stat alike.

#include "fuzz_support.h"
#include "hdw_config.h"

#include <QDir>
#include <QFileInfo>
#include <cstring>
#include <vector>

namespace {

HDW_config *hw = nullptr;
QStringList paths;

// The digits of text in order, as many as fit a buffer of limit bytes.
void checkDigitCapture(const std::vector<char> &text, int limit)
{
    int digits = 0;
    for (const char *p = text.data(); *p; ++p)
        digits += *p >= '0' && *p <= '9';
    std::vector<char> out(static_cast<size_t>(limit) + 1, '\x7f'), in(text);
    const int got = hw->captureNumString(out.data(), in.data(), limit);
    if (digits + 1 > limit) {
        fuzz::expect(got == -1 && out[0] == '\0', "too many digits give -1 and an empty text");
        return;
    }
    fuzz::expect(got == digits && strlen(out.data()) == static_cast<size_t>(digits), "every digit is captured and terminated");
    fuzz::expect(out[static_cast<size_t>(limit)] == '\x7f', "the capture stays inside its limit");
}

void run(const uint8_t *data, size_t size)
{
    for (const QString &path : paths)
        fuzz::writeFile(path, data, size);
    fuzz::expect(hw->checkSysRam() == 0, "a readable /proc/meminfo is read");
    fuzz::expect(hw->readTotalRamSize() <= 999999999ul && hw->readFreeRamSize() <= 3 * 999999999ul, "RAM figures of at most nine digits");
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    for (int limit : { 1, 2, 10, 64 })
        checkDigitCapture(text, limit);
    hw->get_cpu_usage();
    hw->get_cpu_usage();
}

QByteArray prepare()
{
    paths = QStringList{ "proc/meminfo", "proc/stat", "proc/self/stat" };
    for (QString &path : paths)
        path = fuzz::sysrootPath(path);
    QDir().mkpath(QFileInfo(paths.last()).absolutePath());
    fuzz::writeFile(paths.last(), nullptr, 0);
    // Once: it keeps the stat files open, as on the panel, and reads each input through them.
    hw = new HDW_config;
    return "MemTotal: 1024000 kB\nMemFree: 512000 kB\nBuffers: 16000 kB\nCached: 128000 kB\n";
}

} // namespace

KVX_FUZZ_TARGET(run, prepare)
