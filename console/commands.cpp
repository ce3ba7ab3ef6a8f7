// What each command frame does, one handler per command word. A handler
// returns false for a frame the console refuses ("CXM: Wrong Cmd").

#include "usb_console.h"

#include "hdw_config.h"
#include "replies.h"

#include <QPushButton>
#include <QString>
#include <cstdio>
#include <cstring>

namespace {

// A device name is stored in a 40-character field.
const size_t maxDeviceName = 40;

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

} // namespace

// A LOAD/RTLD frame has said what it had to say, accepted or not.
bool USB_console::cmdLOAD(char *)
{
    runtimeLoad = PlainLoad;
    file_name_parse(PlainLoad);
    return true;
}

bool USB_console::cmdRTLD(char *)
{
    runtimeLoad = FirmwareLoad;
    printf("CXM: Stop all other service\n");
    printf("CXM: Load Runtime Program\n");
    file_name_parse(FirmwareLoad);
    return true;
}

bool USB_console::cmdHWCF(char *)
{
    emit ConsoleAskHwCfg();
    return true;
}

bool USB_console::cmdSYNC(char *)
{
    emit ConsoleAskSync(true);
    return true;
}

bool USB_console::cmdBOOT(char *)
{
    emit ConsoleAskReboot();
    return true;
}

bool USB_console::cmdBKLT(char *params)
{
    int percent;
    value_parse(&percent, params, 0, 100);
    if (percent < 1)
        return false; // 0 would switch the display dark
    emit ConsoleSetBacklight(percent);
    return true;
}

bool USB_console::cmdDIGC(char *params)
{
    int channel;
    char *next = value_parse(&channel, params, 0, 15);
    if (channel < 0)
        return true;
    int direction;
    next = in_out_parse(&direction, next);
    int level = 0;
    if (direction != 1)
        state_parse(&level, next);
    hwConfig->confDigiOut(channel, level, direction);
    return true;
}

bool USB_console::cmdPWMC(char *params)
{
    int channel;
    char *next = value_parse(&channel, params, 0, 3);
    if (channel < 0)
        return true;
    int value;
    value_parse(&value, next, 0, 255);
    hwConfig->confPWMOut(channel, value == 0 ? 0 : 1);
    return true;
}

bool USB_console::cmdALMC(char *params)
{
    int alarm;
    char *next = value_parse(&alarm, params, 1, 2);
    if (alarm < 0)
        return true;
    int level;
    state_parse(&level, next);
    hwConfig->confAlmOut(alarm, level);
    return true;
}

bool USB_console::cmdCHBT(char *params)
{
    int enable;
    value_parse(&enable, params, 0, 1);
    if (enable >= 0) {
        hwConfig->confBatteryLowCheck(enable == 1);
        writeReply(reply::BatteryCheckOk);
    }
    return true;
}

bool USB_console::cmdSVCF(char *)
{
    SaveHwdConfig();
    // Rebooting is offered once the host has had the chance to keep its
    // settings, whether or not they could be written.
    if (rebootButton) {
        connect(rebootButton, SIGNAL(clicked()), this, SLOT(onRecoveryReboot()), Qt::UniqueConnection);
        rebootButton->setEnabled(true);
    }
    return true;
}

bool USB_console::cmdHELP(char *)
{
    for (const char *line : helpLines)
        printf("%s\n", line);
    return true;
}

bool USB_console::cmdGETF(char *params)
{
    char *path;
    string_parse(&path, params);
    if (path) {
        TxFileStart(path);
        // The send takes the line over only once it is armed.
        consoleState = ConsoleIdle;
    }
    return true;
}

bool USB_console::cmdDORI(char *params)
{
    int orientation;
    value_parse(&orientation, params, 0, 1);
    if (orientation >= 0)
        hwConfig->setScreenOrientation(orientation);
    return true;
}

bool USB_console::cmdUNIX(char *params)
{
    char *command;
    string_parse(&command, params);
    if (command)
        SysCmdUnix(command, 0);
    return true;
}

bool USB_console::cmdDTIM(char *params)
{
    char *text;
    string_parse(&text, params);
    if (text) {
        QString dateTime = QString::fromLatin1(text);
        const bool set = hwConfig->setExternalRTC(true, true, &dateTime);
        writeReply(set ? reply::DateTimeOk : reply::DateTimeError);
    }
    emit dateTimeSynced();
    return true;
}

bool USB_console::cmdFINF(char *params)
{
    unsigned long long size;
    long_value_parse(&size, params);
    setTotalFileSize(size);
    return true;
}

bool USB_console::cmdSINF(char *)
{
    showDeviceInfo();
    return true;
}

bool USB_console::cmdSLTZ(char *)
{
    reportLocalTimeZone();
    return true;
}

bool USB_console::cmdGFFS(char *)
{
    reportFontFamilies();
    return true;
}

bool USB_console::cmdRMFS(char *params)
{
    int count;
    char *next = value_parse(&count, params, 0, 1000);
    char *list = nullptr;
    if (next)
        string_parse(&list, next);
    if (list)
        processRemoveStringList(count, list);
    return true;
}

bool USB_console::cmdMODE(char *params)
{
    int mode;
    value_parse(&mode, params, 0, 2);
    changeMode(mode, true);
    return true;
}

bool USB_console::cmdCPUI(char *)
{
    ReportCPUID();
    return true;
}

bool USB_console::cmdSNAM(char *params)
{
    char *name;
    string_parse(&name, params);
    if (name && strlen(name) <= maxDeviceName) {
        hwConfig->confDeviceName(name);
        writeReply(reply::DeviceNameOk);
    } else {
        writeReply(reply::DeviceNameError);
    }
    return true;
}

bool USB_console::cmdGPFL(char *)
{
    changeMode(ModeQuiet, false);
    reportProjectFileList();
    return true;
}

bool USB_console::cmdDRPN(char *params)
{
    int pin;
    value_parse(&pin, params, 0, 1);
    hwConfig->confRs485DirectionPin(pin);
    return true;
}
