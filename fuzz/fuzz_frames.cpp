// The frame collector, the command table, every parameter parser and the
// dispatch of the settings commands, fed the host's bytes one at a time.
//
// Commands that start programs, transfers or a reboot, or that write the
// configuration files or set the clock, must not run here. Those reached
// through the console's own hand-over signals (LOAD and RTLD start the
// receiver, SYNC, BOOT) are cut at the signal, so that their frames are still
// parsed; those that act directly (UNIX, GETF, SVCF, DTIM, CHBT) are dropped
// before their closing '#' reaches the collector.

#include "console_probe.h"
#include "fuzz_support.h"
#include "hdw_config.h"

#include <QWidget>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The console writes its echo and replies into [1]; they are drained from [0].
int output[2] = { -1, -1 };

bool closesKeptOutFrame(USB_console &c, unsigned char b)
{
    // A word of four bytes lies at positions 1..4 once four are stored.
    if (b != '#' || ConsoleProbe::consoleState(c) != 1 || ConsoleProbe::cmdIndex(c) < 4)
        return false;
    for (const char *word : { "UNIX", "GETF", "SVCF", "DTIM", "CHBT" }) {
        if (memcmp(ConsoleProbe::cmdBuf(c) + 1, word, 4) == 0)
            return true;
    }
    return false;
}

void drain()
{
    char buf[4096];
    while (::read(output[0], buf, sizeof buf) > 0) {
    }
}

void checkConsole(USB_console &c)
{
    fuzz::expect(ConsoleProbe::consoleState(c) == 0 || ConsoleProbe::consoleState(c) == 1, "the collector is idle or collecting");
    fuzz::expect(ConsoleProbe::cmdIndex(c) >= 0 && ConsoleProbe::cmdIndex(c) <= 254, "the frame index stays inside the frame");
    fuzz::expect(ConsoleProbe::rxMode(c) == 0, "no reception runs");
    fuzz::expect(strnlen(ConsoleProbe::fileName(c), 52) <= 51, "the file name is terminated");
    fuzz::expect(strnlen(ConsoleProbe::fileHash(c), 33) <= 32, "the digest is terminated");
    fuzz::expect(ConsoleProbe::totalSize(c) >= 0, "an announced size is never negative");
}

void run(const uint8_t *data, size_t size)
{
    HDW_config hw;
    QWidget holder;
    USB_console console(nullptr, &hw);
    fuzz::adoptWidgets(&holder, console);
    const char *const handOvers[][2] = {
        { SIGNAL(ConsoleStartXmodem()), SLOT(StartXmodem()) },
        { SIGNAL(ConsoleAskSync(bool)), SLOT(SysCmdSysn(bool)) },
        { SIGNAL(ConsoleAskReboot()), SLOT(SysCmdReboot()) },
    };
    for (const auto &h : handOvers)
        fuzz::expect(QObject::disconnect(&console, h[0], &console, h[1]), "cutting a hand-over");
    // The sysroot has no terminal, so the console's own open failed: the
    // pipe stands in. It is given back before the console would close it.
    ConsoleProbe::serialFd(console) = output[1];
    for (size_t i = 0; i < size; ++i) {
        if (closesKeptOutFrame(console, data[i])) {
            ConsoleProbe::consoleState(console) = ConsoleIdle; // as if the '#' never came
            ConsoleProbe::cmdIndex(console) = 0;
            continue;
        }
        ConsoleProbe::collect(console, data[i]);
        checkConsole(console);
        if ((i & 1023) == 1023)
            drain();
    }
    fuzz::checkRecord(true);
    ConsoleProbe::serialFd(console) = -1;
    drain();
}

QByteArray prepare()
{
    fuzz::expect(pipe2(output, O_NONBLOCK | O_CLOEXEC) == 0, "the console's output pipe");
    return "#HWCF##BKLT<50>##MODE<2>##GPFL##CPUI#";
}

} // namespace

KVX_FUZZ_TARGET(run, prepare)
