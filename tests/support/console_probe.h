#ifndef KVX_CONSOLE_PROBE_H
#define KVX_CONSOLE_PROBE_H

// The console's friend, for the tests and the fuzz targets: the state its
// parts keep, and the steps their timers and the host's bytes would start.

#include "hdw_config.h"
#include "usb_console.h"

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

class ConsoleProbe
{
public:
#define KVX_PROBE(field) static auto &field(USB_console &c) { return c.field; }
    KVX_PROBE(serialFd) KVX_PROBE(serialNotifier) KVX_PROBE(consoleState) KVX_PROBE(cmdBuf) KVX_PROBE(cmdIndex)
    KVX_PROBE(fileName) KVX_PROBE(fileHash) KVX_PROBE(totalSize) KVX_PROBE(remainSize) KVX_PROBE(runtimeLoad)
    KVX_PROBE(rxMode) KVX_PROBE(rxCount) KVX_PROBE(rxExpected) KVX_PROBE(rxErrors) KVX_PROBE(xmodemStatus)
    KVX_PROBE(txFile) KVX_PROBE(txStarted) KVX_PROBE(txTimer) KVX_PROBE(txDelayTimer)
    KVX_PROBE(upgradeTimer) KVX_PROBE(upgradeState) KVX_PROBE(installPackage) KVX_PROBE(removeList)
#undef KVX_PROBE
    static void collect(USB_console &c, unsigned char b) { c.collectCommandByte(b); }
    static void read(USB_console &c) { c.ReadSerial(); }
    static void packetTimeOut(USB_console &c) { c.PacketTimeOut(); }
    static void startTimeOut(USB_console &c) { c.ReceiveTimeOut(); }
    static void upgradeStep(USB_console &c) { c.upgradeAction(); }

    // Starts a reception into name (tmp/ unless runtime) as the LOAD and RTLD frames leave it.
    static void receive(USB_console &c, const char *name, int size, bool runtime = false, const char *hash = "")
    {
        qstrncpy(c.fileName, name, sizeof c.fileName);
        qstrncpy(c.fileHash, hash, sizeof c.fileHash);
        c.remainSize = static_cast<unsigned int>(c.totalSize = size);
        c.runtimeLoad = runtime;
        c.StartXmodem();
    }
};

// A console on the active sysroot, its status widgets in a hidden window as on the panel.
struct PanelConsole
{
    HDW_config hw;
    QWidget window;
    USB_console console{ nullptr, &hw };
    PanelConsole()
    {
        for (QWidget *w : std::initializer_list<QWidget *>{ console.statusLabel, console.messageLabel, console.progressBar })
            w->setParent(&window);
    }
};

#endif
