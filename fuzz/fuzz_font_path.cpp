// The font removal list's file name: the last element of a path, whatever its
// separators, blanks and encoding. Input: the path, read as UTF-8 and as Latin-1.

#include "fuzz_support.h"
#include "console_probe.h"

namespace {

USB_console *console = nullptr;

void check(const QString &path)
{
    const QString name = console->getNameFromPath(path);
    fuzz::expect(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')), "a file name holds no separator");
    fuzz::expect(name.size() <= path.size(), "a file name is part of its path");
    if (!path.trimmed().isEmpty() && !path.contains(QLatin1Char('/')) && !path.contains(QLatin1Char('\\')))
        fuzz::expect(name == path.trimmed(), "a bare name is its own file name");
}

void run(const uint8_t *data, size_t size)
{
    check(QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size)));
    check(QString::fromLatin1(reinterpret_cast<const char *>(data), static_cast<int>(size)));
}

QByteArray prepare()
{
    console = &(new PanelConsole)->console;
    return "/opt/kvx_recovery/fonts/DejaVuSans.ttf";
}

} // namespace

KVX_FUZZ_TARGET(run, prepare)
