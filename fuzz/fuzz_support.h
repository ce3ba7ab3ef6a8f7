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

// Creates the temporary sysroot (with its own fake sbin/reboot) and a working
// directory with tmp/, points KVX_SYSROOT at the sysroot, runs
// platform::init(), enters the working directory and creates the application
// object. Aborts when the simulated panel cannot be set up: nothing may run
// against the machine's own devices or programs.
//
// libFuzzer reads its arguments after this: relative corpus, input and
// artifact paths are made absolute first, so that they still name what they
// named where the target was started, and crashing inputs are kept there.
void setUp(int *argc, char ***argv);

// An absolute path below the sysroot, e.g. sysrootPath("proc/meminfo").
QString sysrootPath(const QString &relative);

// Replaces a file's contents (same inode, so kept-open readers see them).
void writeFile(const QString &path, const uint8_t *data, size_t size);
void removeFile(const QString &path);

// Aborts with a message on standard error when a promise is broken.
void expect(bool holds, const char *what);

// Taken before an input and checked after it: a descriptor the input opened
// and left open (a leak), or one it closed without owning, aborts.
int lowestFreeDescriptor();
void checkDescriptors(int before);

// One input through run, with the descriptor check around it; every target's
// LLVMFuzzerTestOneInput returns this.
int runChecked(void (*run)(const uint8_t *, size_t), const uint8_t *data, size_t size);

// In the panel the window takes the console's status widgets into its
// layout; here a hidden holder widget does, so that they are never shown on
// their own and are deleted with the holder.
void adoptWidgets(QWidget *holder, USB_console &console);

} // namespace fuzz

#endif
