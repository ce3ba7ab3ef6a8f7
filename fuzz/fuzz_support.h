#ifndef KVX_FUZZ_SUPPORT_H
#define KVX_FUZZ_SUPPORT_H

// What every fuzz target shares: a temporary simulated panel, the application
// object, quiet diagnostics, and checks that turn a broken promise into a crash.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace fuzz {

// Makes the sample sysroot and a working directory with tmp/ in a temporary
// folder, points KVX_SYSROOT at it, enters the working directory and creates
// the application. Aborts unless reboot resolves inside the sysroot. Relative
// paths in libFuzzer's arguments are made absolute first.
void setUp(int *argc, char ***argv);
// Replaces a file's contents (same inode, so kept-open readers see them), making its folders.
void writeFile(const QString &path, const uint8_t *data, size_t size);
void expect(bool holds, const char *what);
// One input through run; aborts when it leaves a descriptor open or closes one it does not own.
int runChecked(void (*run)(const uint8_t *, size_t), const uint8_t *data, size_t size);
// Every field of the configuration record within the values it is saved as;
// a host's frame may also leave the "not given" -1 of a keyword.
void checkRecord(bool fromHost);

} // namespace fuzz

// prepare() runs once after setUp() and returns a warm-up input, so that what
// Qt sets up on first use is in place before the first real input.
#define KVX_FUZZ_TARGET(run, prepare)                                                  \
    extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)                       \
    {                                                                                  \
        fuzz::setUp(argc, argv);                                                       \
        const QByteArray warmUp = prepare();                                           \
        run(reinterpret_cast<const uint8_t *>(warmUp.constData()), size_t(warmUp.size())); \
        return 0;                                                                      \
    }                                                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return fuzz::runChecked(run, data, size); }

#endif
