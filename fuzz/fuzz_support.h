#ifndef KVX_FUZZ_SUPPORT_H
#define KVX_FUZZ_SUPPORT_H

// What every fuzz target shares: a temporary simulated panel to run on, the
// application object, quiet diagnostics, and the checks that turn a broken
// promise into a crash that libFuzzer reports.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

class QWidget;
class USB_console;

namespace fuzz {

// Makes the sample sysroot (with its own fake sbin/reboot) and a working
// directory with tmp/ in a temporary folder, points KVX_SYSROOT at it, runs
// platform::init(), enters the working directory and creates the application
// object. Aborts when the simulated panel cannot be set up: nothing may run
// against the machine's own devices or programs. Relative paths in
// libFuzzer's arguments are made absolute first, so that they still name
// what they named where the target was started.
void setUp(int *argc, char ***argv);

// An absolute path below the sysroot, e.g. sysrootPath("proc/meminfo").
QString sysrootPath(const QString &relative);

// Replaces a file's contents (same inode, so kept-open readers see them).
void writeFile(const QString &path, const uint8_t *data, size_t size);
void removeFile(const QString &path);

// Aborts with a message on standard error when a promise is broken.
void expect(bool holds, const char *what);

// One input through run; an input that leaves a descriptor open (a leak) or
// closes one it does not own aborts.
int runChecked(void (*run)(const uint8_t *, size_t), const uint8_t *data, size_t size);

// Every field of the configuration record within the values it is read back
// and saved as; a host's frame may also leave the "not given" -1 of a keyword.
void checkRecord(bool fromHost);

// In the panel the window takes the console's status widgets into its
// layout; here a hidden holder widget does, so that they are deleted with it.
void adoptWidgets(QWidget *holder, USB_console &console);

} // namespace fuzz

// The entry points of a target: prepare() runs once after setUp() and returns
// a warm-up input, so that whatever Qt sets up on first use is in place
// before the first real input; every input then goes through run().
#define KVX_FUZZ_TARGET(run, prepare)                                                  \
    extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)                       \
    {                                                                                  \
        fuzz::setUp(argc, argv);                                                       \
        const QByteArray warmUp = prepare();                                           \
        run(reinterpret_cast<const uint8_t *>(warmUp.constData()), size_t(warmUp.size())); \
        return 0;                                                                      \
    }                                                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)            \
    {                                                                                  \
        return fuzz::runChecked(run, data, size);                                      \
    }

#endif
