// Command frames from the host: collecting them byte by byte with their echo
// and handing each complete frame to the handler of its command word.
//
// The frame lives in cmdBuf. Position 0 stands for the opening '#' and is
// never written; received bytes go to positions 1 to 255, so the command word
// is at 1..4, the parameters start at 5 and cmdIndex is the position of the
// closing '#'.

#include "usb_console.h"

#include "replies.h"

#include <cstdio>
#include <cstring>

namespace {

const char frameMark = '#';

} // namespace

struct USB_console::CommandEntry
{
    char word[5];
    bool (USB_console::*run)(char *params);
};

// Every command word the console answers, each with its handler.
const USB_console::CommandEntry USB_console::commandTable[] = {
    { "LOAD", &USB_console::cmdLOAD }, { "RTLD", &USB_console::cmdRTLD }, { "HWCF", &USB_console::cmdHWCF },
    { "SYNC", &USB_console::cmdSYNC }, { "BOOT", &USB_console::cmdBOOT }, { "BKLT", &USB_console::cmdBKLT },
    { "DIGC", &USB_console::cmdDIGC }, { "PWMC", &USB_console::cmdPWMC }, { "ALMC", &USB_console::cmdALMC },
    { "CHBT", &USB_console::cmdCHBT }, { "SVCF", &USB_console::cmdSVCF }, { "HELP", &USB_console::cmdHELP },
    { "GETF", &USB_console::cmdGETF }, { "DORI", &USB_console::cmdDORI }, { "UNIX", &USB_console::cmdUNIX },
    { "DTIM", &USB_console::cmdDTIM }, { "FINF", &USB_console::cmdFINF }, { "SINF", &USB_console::cmdSINF },
    { "SLTZ", &USB_console::cmdSLTZ }, { "GFFS", &USB_console::cmdGFFS }, { "RMFS", &USB_console::cmdRMFS },
    { "MODE", &USB_console::cmdMODE }, { "CPUI", &USB_console::cmdCPUI }, { "SNAM", &USB_console::cmdSNAM },
    { "GPFL", &USB_console::cmdGPFL }, { "DRPN", &USB_console::cmdDRPN },
};

void USB_console::collectCommandByte(unsigned char b)
{
    if (consoleState == ConsoleIdle) {
        if (b == frameMark) {
            cmdIndex = 0;
            consoleState = ConsoleInFrame;
            memset(cmdBuf, 0, sizeof cmdBuf);
            WriteChar(b);
        } else if (b == '\r') {
            writeReply(reply::LineEnd);
        } else {
            WriteChar(b);
        }
        return;
    }

    const int last = static_cast<int>(sizeof cmdBuf) - 1;
    const bool stored = cmdIndex >= 0 && cmdIndex < last;
    if (stored)
        cmdBuf[++cmdIndex] = static_cast<char>(b);

    if (b == '\r')
        writeReply(reply::LineEnd);
    else
        WriteChar(b);

    if (!stored) {
        // Only a frame index set from outside can get here; start afresh
        // rather than look at a position that may lie outside the frame.
        consoleState = ConsoleIdle;
        cmdIndex = 0;
        return;
    }
    if (b == frameMark) {
        if (cmdIndex >= 2)
            CheckConsoleCmd();
        else
            cmdIndex = 0; // "##": the second '#' opens the frame anew
    } else if (cmdIndex == last) {
        // Full without a closing '#': the frame is dropped.
        consoleState = ConsoleIdle;
        cmdIndex = 0;
    }
}

void USB_console::CheckConsoleCmd()
{
    const int end = cmdIndex;
    if (end >= 1 && end < static_cast<int>(sizeof cmdBuf)) {
        // The frame text ends at the closing '#': terminating it there keeps
        // the terminator inside cmdBuf even for a frame that fills the buffer.
        cmdBuf[end] = '\0';
        const char *word = cmdBuf + 1;
        bool accepted = false;
        for (const CommandEntry &command : commandTable) {
            if (memcmp(word, command.word, 4) == 0) {
                accepted = (this->*command.run)(cmdBuf + 5);
                break;
            }
        }
        if (!accepted)
            printf("CXM: Wrong Cmd\n");
        writeReply(reply::LineEnd);
    }
    cmdIndex = 0;
    consoleState = ConsoleIdle;
}
