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

const char *const keptOut[] = { "UNIX", "GETF", "SVCF", "DTIM", "CHBT" };

bool closesKeptOutFrame(const USB_console &c, unsigned char b)
{
    if (b != '#' || ConsoleProbe::state(c) != 1)
        return false;
    // A word of four bytes lies at positions 1..4 once four are stored.
    if (ConsoleProbe::index(c) < 4)
        return false;
    for (const char *word : keptOut) {
        if (memcmp(ConsoleProbe::frame(c) + 1, word, 4) == 0)
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

bool oneOf(int value, int low, int high)
{
    return value >= low && value <= high;
}

void checkConsole(const USB_console &c)
{
    fuzz::expect(oneOf(ConsoleProbe::state(c), 0, 1), "the collector is idle or collecting");
    fuzz::expect(oneOf(ConsoleProbe::index(c), 0, 254), "the frame index stays inside the frame");
    fuzz::expect(ConsoleProbe::mode(c) == 0, "no reception runs");
    fuzz::expect(strnlen(ConsoleProbe::fileName(c), 52) <= 51, "the file name is terminated");
    fuzz::expect(strnlen(ConsoleProbe::fileHash(c), 33) <= 32, "the digest is terminated");
    fuzz::expect(ConsoleProbe::totalSize(c) >= 0, "an announced size is never negative");
}

// Every setting the host can make keeps its field within the values it is
// read back and saved as (-1 being the "not given" of a keyword).
void checkRecord()
{
    const hwcfg_struct &d = hwcfg_data;
    fuzz::expect(oneOf(d.backlight, 0, 100), "backlight 0..100");
    for (int i = 0; i < 16; ++i) {
        fuzz::expect(oneOf(d.dioDir[i], -1, 2), "DIO direction");
        fuzz::expect(oneOf(d.dioLevel[i], -1, 1), "DIO level");
        fuzz::expect(d.dioFd[i] == 0, "no DIO input descriptor without sys_conf.txt");
    }
    for (int state : d.pwmOut)
        fuzz::expect(oneOf(state, 0, 1), "PWM state");
    for (int state : d.almOut)
        fuzz::expect(oneOf(state, -1, 1), "alarm state");
    fuzz::expect(oneOf(d.rs485DirPin, -1, 1), "RS-485 direction pin");
    fuzz::expect(oneOf(d.orientation, 0, 1), "orientation");
    fuzz::expect(strnlen(d.devName, sizeof d.devName) <= 40, "device name of at most 40 characters");
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
    ConsoleProbe::attach(console, output[1]);

    for (size_t i = 0; i < size; ++i) {
        if (closesKeptOutFrame(console, data[i])) {
            ConsoleProbe::dropFrame(console);
            continue;
        }
        ConsoleProbe::collect(console, data[i]);
        checkConsole(console);
        if ((i & 1023) == 1023)
            drain();
    }
    checkRecord();
    ConsoleProbe::detach(console);
    drain();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::setUp(argc, argv);
    fuzz::expect(pipe2(output, O_NONBLOCK | O_CLOEXEC) == 0, "the console's output pipe");
    static const char warmUp[] = "#HWCF##BKLT<50>##MODE<2>##GPFL##CPUI#";
    // Whatever Qt sets up once, on first use, is in place before the first input.
    run(reinterpret_cast<const uint8_t *>(warmUp), sizeof warmUp - 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzz::runChecked(run, data, size);
}
