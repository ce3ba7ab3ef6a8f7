// Command frames from the host: collecting them byte by byte with their echo,
// looking the four-letter command word up in the command table, parsing the
// angle-bracket parameters in place and running each command.
//
// The frame lives in cmdBuf. Position 0 stands for the opening '#' and is
// never written; received bytes go to positions 1 to 255, so the command word
// is at 1..4, the parameters start at 5 and cmdIndex is the position of the
// closing '#'. Every search in a frame is bounded by the end of cmdBuf: a
// frame that fills the buffer must not lead any parser past it.

#include "usb_console.h"

#include "hdw_config.h"

#include <QByteArray>
#include <QPushButton>
#include <QString>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const cmd_entry cmd_set[27] = {
    { "    ", 0 },
    { "LOAD", 1 },
    { "RTLD", 2 },
    { "HWCF", 3 },
    { "SYNC", 4 },
    { "BOOT", 5 },
    { "BKLT", 6 },
    { "DIGC", 10 },
    { "PWMC", 12 },
    { "ALMC", 14 },
    { "CHBT", 16 },
    { "SVCF", 17 },
    { "HELP", 18 },
    { "GETF", 20 },
    { "DORI", 22 },
    { "UNIX", 19 },
    { "DTIM", 23 },
    { "FINF", 24 },
    { "SINF", 25 },
    { "SLTZ", 26 },
    { "GFFS", 28 },
    { "RMFS", 29 },
    { "MODE", 30 },
    { "CPUI", 31 },
    { "SNAM", 32 },
    { "GPFL", 33 },
    { "DRPN", 34 },
};

namespace {

enum Command {
    CmdNone = 0,
    CmdLoad = 1,
    CmdRuntimeLoad = 2,
    CmdHardwareReport = 3,
    CmdSync = 4,
    CmdBoot = 5,
    CmdBacklight = 6,
    CmdDigital = 10,
    CmdPwm = 12,
    CmdAlarm = 14,
    CmdBatteryCheck = 16,
    CmdSaveConfig = 17,
    CmdHelp = 18,
    CmdUnix = 19,
    CmdGetFile = 20,
    CmdOrientation = 22,
    CmdDateTime = 23,
    CmdFileInfo = 24,
    CmdDeviceInfo = 25,
    CmdTimeZone = 26,
    CmdFontFamilies = 28,
    CmdRemoveFonts = 29,
    CmdMode = 30,
    CmdCpuId = 31,
    CmdDeviceName = 32,
    CmdProjectList = 33,
    CmdDirectionPin = 34,
};

const char frameMark = '#';
// The longest size text a LOAD/RTLD frame may carry ("-2147483648").
const int maxSizeText = 11;
// A device name is stored in a 40-character field.
const size_t maxDeviceName = 40;
// Digits of the MD5 digest in an RTLD frame.
const int digestDigits = 32;

const char *const helpLines[] = {
    "Valid Console Command :",
    "#LOAD<file_name>file_size#",
    "#HWCF#",
    "#REPT<ON/OFF>#",
    "#BKLT<nn>#",
    "#SYNC#",
    "#BOOT#",
    "#SINF#",
    "#DIGO<nn><ON/OFF>#",
    "#DIGI<nn>#",
    "#SALM<nn><ON/OFF>#",
    "#DPWM<nn><xx>#",
    "#ADCG<nn><xx>#",
    "#UNIX<sss..sss>#",
    "#LOGZ#",
};

// How many bytes of the text at p lie inside the buffer before its NUL (or
// before the buffer's end when no NUL follows); -1 when p is not inside it.
long textRoom(const char *buf, size_t size, const char *p)
{
    const uintptr_t start = reinterpret_cast<uintptr_t>(buf);
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    if (!p || at < start || at >= start + size)
        return -1;
    return static_cast<long>(strnlen(p, start + size - at));
}

// The first '>' after the '<' at p, within the text and the buffer.
char *closingBracket(char *buf, size_t size, char *p)
{
    const long room = textRoom(buf, size, p);
    if (room < 2)
        return nullptr;
    return static_cast<char *>(memchr(p + 1, '>', static_cast<size_t>(room - 1)));
}

bool opensParameter(const char *buf, size_t size, const char *p)
{
    return textRoom(buf, size, p) > 0 && *p == '<';
}

bool startsWith(const char *buf, size_t size, const char *p, const char *keyword)
{
    const size_t n = strlen(keyword);
    const long room = textRoom(buf, size, p);
    return room >= 0 && static_cast<size_t>(room) >= n && memcmp(p, keyword, n) == 0;
}

} // namespace

void USB_console::collectCommandByte(unsigned char b)
{
    if (consoleState == 0) {
        if (b == frameMark) {
            cmdIndex = 0;
            consoleState = 1;
            memset(cmdBuf, 0, sizeof cmdBuf);
            WriteChar(b);
        } else if (b == '\r') {
            writeBytes("\n\r", 2);
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
        writeBytes("\n\r", 2);
    else
        WriteChar(b);

    if (!stored) {
        // Only a frame index set from outside can get here; start afresh
        // rather than look at a position that may lie outside the frame.
        consoleState = 0;
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
        consoleState = 0;
        cmdIndex = 0;
    }
}

int USB_console::SearchMatchCmd(char *word)
{
    if (!word)
        return CmdNone;
    for (const cmd_entry &entry : cmd_set) {
        if (memcmp(word, entry.name, 4) == 0)
            return entry.code;
    }
    return CmdNone;
}

char *USB_console::string_parse(char **out, char *p)
{
    *out = nullptr;
    if (!opensParameter(cmdBuf, sizeof cmdBuf, p))
        return p;
    char *close = closingBracket(cmdBuf, sizeof cmdBuf, p);
    if (!close)
        return p;
    *close = '\0';
    *out = p + 1;
    return close + 1;
}

char *USB_console::value_parse(int *out, char *p, int min, int max)
{
    *out = -1;
    if (!opensParameter(cmdBuf, sizeof cmdBuf, p))
        return nullptr;
    char *close = closingBracket(cmdBuf, sizeof cmdBuf, p);
    if (!close)
        return p;
    *close = '\0';
    // Compared before narrowing, and in 64 bits on every target (a 32-bit
    // long would saturate a huge number to the largest int), so a huge
    // number can neither wrap into the range nor stand in for its end.
    const long long number = strtoll(p + 1, nullptr, 10);
    if (number >= min && number <= max)
        *out = static_cast<int>(number);
    return close + 1;
}

char *USB_console::long_value_parse(unsigned long long *out, char *p)
{
    *out = ~0ULL;
    if (!opensParameter(cmdBuf, sizeof cmdBuf, p))
        return nullptr;
    char *close = closingBracket(cmdBuf, sizeof cmdBuf, p);
    if (!close)
        return p;
    *close = '\0';
    bool ok = false;
    const qulonglong number = QByteArray(p + 1).toULongLong(&ok, 10);
    if (!ok)
        return p;
    *out = number;
    return close + 1;
}

char *USB_console::state_parse(int *out, char *p)
{
    if (startsWith(cmdBuf, sizeof cmdBuf, p, "<HI>")) {
        *out = 1;
        return p + 4;
    }
    if (startsWith(cmdBuf, sizeof cmdBuf, p, "<LO>")) {
        *out = 0;
        return p + 4;
    }
    *out = -1;
    return p;
}

char *USB_console::in_out_parse(int *out, char *p)
{
    if (startsWith(cmdBuf, sizeof cmdBuf, p, "<IN>")) {
        *out = 1;
        return p + 4;
    }
    if (startsWith(cmdBuf, sizeof cmdBuf, p, "<OUT>")) {
        *out = 2;
        return p + 5;
    }
    if (startsWith(cmdBuf, sizeof cmdBuf, p, "<UNU>")) {
        *out = 0;
        return p + 5;
    }
    *out = -1;
    return p;
}

// "#LOAD<name>size#", and for RTLD "#RTLD<name>[32 hex digits]size#".
// A name that does not fit fileName, or a size number written with more
// characters than a 32-bit number needs, refuses the whole frame: nothing is
// stored or answered, and no name is ever cut into another one.
void USB_console::file_name_parse(int *ok, int runtime)
{
    const int end = cmdIndex; // the closing '#'
    if (end < 5 || end >= static_cast<int>(sizeof cmdBuf))
        return;

    int close = 4; // no name: the size text starts right after the word
    if (cmdBuf[5] == '<' && end > 6) {
        for (int i = 6; i < end; ++i) {
            if (cmdBuf[i] == '>') {
                close = i;
                break;
            }
        }
    }
    const int nameLength = close > 6 ? close - 6 : 0;
    if (nameLength > static_cast<int>(sizeof fileName) - 1) {
        printf("CXM: File Name Too Long\n");
        return;
    }

    int sizeStart = close + 1;
    const bool withDigest = runtime && cmdBuf[close + 1] == '['
        && close + digestDigits + 2 < end && cmdBuf[close + digestDigits + 2] == ']';
    if (withDigest)
        sizeStart = close + digestDigits + 3;

    // The size text runs up to the closing '#'; strtol stops at its first
    // non-digit, so a long text that is not a number is just an invalid size.
    const int sizeLength = end - sizeStart;
    long size = 0;
    bool sizeValid = false;
    if (sizeLength > 0) {
        char sizeText[sizeof cmdBuf];
        memcpy(sizeText, cmdBuf + sizeStart, static_cast<size_t>(sizeLength));
        sizeText[sizeLength] = '\0';
        errno = 0;
        size = strtol(sizeText, nullptr, 10);
        // A size that a 32-bit count cannot hold is as unusable as none.
        sizeValid = size >= 1 && size <= INT_MAX && errno != ERANGE;
        if (sizeValid && sizeLength > maxSizeText) {
            printf("CXM: File Size Too Long\n");
            return;
        }
    }

    memcpy(fileName, cmdBuf + 6, static_cast<size_t>(nameLength));
    fileName[nameLength] = '\0';
    if (withDigest) {
        memcpy(fileHash, cmdBuf + close + 2, digestDigits);
        fileHash[digestDigits] = '\0';
        printf("CXM: Hash Get %s\n", fileHash);
    }

    if (sizeLength <= 0)
        return;
    if (!sizeValid) {
        totalSize = 0;
        remainSize = 0;
        printf("CXM: Invalid File Size\n");
        return;
    }
    totalSize = static_cast<int>(size);
    remainSize = static_cast<unsigned int>(size);
    *ok = 1;
    writeBytes(runtime ? "<RTLD:ACK>" : "<LOAD:ACK>", 10);
    emit ConsoleStartXmodem();
}

void USB_console::CheckConsoleCmd()
{
    const int end = cmdIndex;
    if (end < 1 || end >= static_cast<int>(sizeof cmdBuf)) {
        cmdIndex = 0;
        consoleState = 0;
        return;
    }
    // The frame text ends at the closing '#': terminating it there keeps the
    // terminator inside cmdBuf even for a frame that fills the buffer.
    cmdBuf[end] = '\0';

    char *word = cmdBuf + 1;
    char *params = cmdBuf + 5;
    int accepted = 0;
    if (memcmp(word, "LOAD", 4) == 0) {
        runtimeLoad = 0;
        file_name_parse(&accepted, 0);
    } else if (memcmp(word, "RTLD", 4) == 0) {
        runtimeLoad = 1;
        printf("CXM: Stop all other service\n");
        printf("CXM: Load Runtime Program\n");
        file_name_parse(&accepted, 1);
    }
    // A LOAD/RTLD frame has said what it had to say, accepted or not.
    accepted = 1;

    switch (SearchMatchCmd(word)) {
    case CmdLoad:
    case CmdRuntimeLoad:
        break;
    case CmdHardwareReport:
        emit ConsoleAskHwCfg();
        break;
    case CmdSync:
        emit ConsoleAskSync(true);
        break;
    case CmdBoot:
        emit ConsoleAskReboot();
        break;
    case CmdBacklight: {
        int percent;
        value_parse(&percent, params, 0, 100);
        if (percent >= 1)
            emit ConsoleSetBacklight(percent);
        else
            accepted = 0; // 0 would switch the display dark
        break;
    }
    case CmdDigital: {
        int channel;
        char *next = value_parse(&channel, params, 0, 15);
        if (channel < 0)
            break;
        int direction;
        next = in_out_parse(&direction, next);
        int level = 0;
        if (direction != 1)
            state_parse(&level, next);
        hwConfig->confDigiOut(channel, level, direction);
        break;
    }
    case CmdPwm: {
        int channel;
        char *next = value_parse(&channel, params, 0, 3);
        if (channel < 0)
            break;
        int value;
        value_parse(&value, next, 0, 255);
        hwConfig->confPWMOut(channel, value == 0 ? 0 : 1);
        break;
    }
    case CmdAlarm: {
        int alarm;
        char *next = value_parse(&alarm, params, 1, 2);
        if (alarm < 0)
            break;
        int level;
        state_parse(&level, next);
        hwConfig->confAlmOut(alarm, level);
        break;
    }
    case CmdBatteryCheck: {
        int enable;
        value_parse(&enable, params, 0, 1);
        if (enable >= 0) {
            hwConfig->confBatteryLowCheck(enable == 1);
            writeBytes("<CHBT:NOR>", 10);
        }
        break;
    }
    case CmdSaveConfig:
        SaveHwdConfig();
        // Rebooting is offered once the host has had the chance to keep its
        // settings, whether or not they could be written.
        if (rebootButton) {
            connect(rebootButton, SIGNAL(clicked()), this, SLOT(onRecoveryReboot()), Qt::UniqueConnection);
            rebootButton->setEnabled(true);
        }
        break;
    case CmdHelp:
        for (const char *line : helpLines)
            printf("%s\n", line);
        break;
    case CmdGetFile: {
        char *path;
        string_parse(&path, params);
        if (path) {
            TxFileStart(path);
            // The send takes the line over only once it is armed.
            consoleState = 0;
        }
        break;
    }
    case CmdOrientation: {
        int orientation;
        value_parse(&orientation, params, 0, 1);
        if (orientation >= 0)
            hwConfig->setScreenOrientation(orientation);
        break;
    }
    case CmdUnix: {
        char *command;
        string_parse(&command, params);
        if (command)
            SysCmdUnix(command, 0);
        break;
    }
    case CmdDateTime: {
        char *text;
        string_parse(&text, params);
        if (text) {
            QString dateTime = QString::fromLatin1(text);
            const bool set = hwConfig->setExternalRTC(true, true, &dateTime);
            writeBytes(set ? "<DTIM:NOR>" : "<DTIM:ERR>", 10);
        }
        emit dateTimeSynced();
        break;
    }
    case CmdFileInfo: {
        unsigned long long size;
        long_value_parse(&size, params);
        setTotalFileSize(size);
        break;
    }
    case CmdDeviceInfo:
        showDeviceInfo();
        break;
    case CmdTimeZone:
        reportLocalTimeZone();
        break;
    case CmdFontFamilies:
        reportFontFamilies();
        break;
    case CmdRemoveFonts: {
        int count;
        char *next = value_parse(&count, params, 0, 1000);
        char *list = nullptr;
        if (next)
            string_parse(&list, next);
        if (list)
            processRemoveStringList(count, list);
        break;
    }
    case CmdMode: {
        int mode;
        value_parse(&mode, params, 0, 2);
        changeMode(mode, true);
        break;
    }
    case CmdCpuId:
        ReportCPUID();
        break;
    case CmdDeviceName: {
        char *name;
        string_parse(&name, params);
        if (name && strlen(name) <= maxDeviceName) {
            hwConfig->confDeviceName(name);
            writeBytes("<SNAM:NOR>", 10);
        } else {
            writeBytes("<SNAM:ERR>", 10);
        }
        break;
    }
    case CmdProjectList:
        changeMode(1, false);
        reportProjectFileList();
        break;
    case CmdDirectionPin: {
        int pin;
        value_parse(&pin, params, 0, 1);
        hwConfig->confRs485DirectionPin(pin);
        break;
    }
    default:
        accepted = 0;
        break;
    }

    if (!accepted)
        printf("CXM: Wrong Cmd\n");
    writeBytes("\n\r", 2);
    cmdIndex = 0;
    consoleState = 0;
}
