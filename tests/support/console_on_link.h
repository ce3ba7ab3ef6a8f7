#ifndef KVX_CONSOLE_ON_LINK_H
#define KVX_CONSOLE_ON_LINK_H

#include "console_probe.h"
#include "panelsession.h"

#include <QStandardPaths>

// A console in the test's own process on a fresh active sysroot, its dev/ttyGS0 a pseudo-terminal whose host
// side the test holds. Its Reboot button and installer find the sysroot's fake reboot.
struct ConsoleOnLink
{
    TestSysroot sysroot;
    PtyLink link;
    std::unique_ptr<PanelConsole> panel;
    USB_console *console = nullptr;
    bool start()
    {
        sysroot.activate();
        const bool linked = link.open() && link.linkAs(sysroot.path("dev/ttyGS0"));
        console = &(panel = std::make_unique<PanelConsole>())->console;
        return linked && QStandardPaths::findExecutable("reboot").startsWith(sysroot.root() + '/');
    }
    // What the console wrote that the test has not taken: a byte of the test's own, written last, marks the end.
    QByteArray sent()
    {
        console->WriteChar('\x01');
        const QByteArray got = link.readUntil("\x01");
        return got.left(got.size() - 1);
    }
};

#endif
