// The frame collector, command table, parameter parsers and settings commands,
// fed the host's bytes one at a time. What would start programs, transfers or
// a reboot, write files or set the clock must not run: LOAD, RTLD, SYNC and
// BOOT are cut at their hand-over signals (still parsed), UNIX, GETF, SVCF,
// DTIM and CHBT lose their closing '#'.

#include "console_probe.h"
#include "fuzz_support.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int output[2] = { -1, -1 };

bool closesKeptOutFrame(USB_console &c, unsigned char b)
{
    // A word of four bytes lies at positions 1..4 once four are stored.
    if (b != '#' || ConsoleProbe::consoleState(c) != 1 || ConsoleProbe::cmdIndex(c) < 4)
        return false;
    for (const char *word : { "UNIX", "GETF", "SVCF", "DTIM", "CHBT" })
        if (memcmp(ConsoleProbe::cmdBuf(c) + 1, word, 4) == 0)
            return true;
    return false;
}

void drain()
{
    for (char buf[4096]; ::read(output[0], buf, sizeof buf) > 0;) {
    }
}

void checkConsole(USB_console &c)
{
    fuzz::expect(ConsoleProbe::consoleState(c) == 0 || ConsoleProbe::consoleState(c) == 1, "the collector is idle or collecting");
    fuzz::expect(ConsoleProbe::cmdIndex(c) >= 0 && ConsoleProbe::cmdIndex(c) <= 254, "the frame index stays inside the frame");
    fuzz::expect(ConsoleProbe::rxMode(c) == 0, "no reception runs");
    fuzz::expect(strnlen(ConsoleProbe::fileName(c), 52) <= 51 && strnlen(ConsoleProbe::fileHash(c), 33) <= 32, "name and digest terminated");
    fuzz::expect(ConsoleProbe::totalSize(c) >= 0, "an announced size is never negative");
}

void run(const uint8_t *data, size_t size)
{
    PanelConsole panel;
    USB_console &console = panel.console;
    const char *const handOvers[][2] = {
        { SIGNAL(ConsoleStartXmodem()), SLOT(StartXmodem()) }, { SIGNAL(ConsoleAskSync(bool)), SLOT(SysCmdSysn(bool)) },
        { SIGNAL(ConsoleAskReboot()), SLOT(SysCmdReboot()) } };
    for (const auto &h : handOvers)
        fuzz::expect(QObject::disconnect(&console, h[0], &console, h[1]), "cutting a hand-over");
    // The sysroot has no terminal: the pipe stands in, given back before the console would close it.
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
