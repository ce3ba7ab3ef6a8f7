// The file-name lookup of the font removal list: the last element of a font
// file's path, whatever separators, blanks and encodings the path holds.
//
// Input: the path, read as UTF-8 and, separately, as Latin-1.

#include "fuzz_support.h"
#include "hdw_config.h"
#include "usb_console.h"

#include <QWidget>

namespace {

USB_console *console = nullptr;

void check(const QString &path)
{
    const QString name = console->getNameFromPath(path);
    fuzz::expect(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')),
                 "a file name holds no separator");
    fuzz::expect(name.size() <= path.size(), "a file name is part of its path");
    if (!path.trimmed().isEmpty() && !path.contains(QLatin1Char('/')) && !path.contains(QLatin1Char('\\')))
        fuzz::expect(name == path.trimmed(), "a bare name is its own file name");
}

void run(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    const int n = static_cast<int>(size);
    check(QString::fromUtf8(text, n));
    check(QString::fromLatin1(text, n));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::setUp(argc, argv);
    // Kept for the whole run, like the panel's one console.
    auto *hw = new HDW_config;
    auto *holder = new QWidget;
    console = new USB_console(nullptr, hw);
    fuzz::adoptWidgets(holder, *console);
    static const char warmUp[] = "/opt/kvx_recovery/fonts/DejaVuSans.ttf";
    // Whatever Qt sets up once, on first use, is in place before the first input.
    run(reinterpret_cast<const uint8_t *>(warmUp), sizeof warmUp - 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzz::runChecked(run, data, size);
}
