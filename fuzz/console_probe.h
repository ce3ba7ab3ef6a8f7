#ifndef KVX_FUZZ_CONSOLE_PROBE_H
#define KVX_FUZZ_CONSOLE_PROBE_H

// The console's own friend: lets a fuzz target put a descriptor of its own in
// place of the serial link, hand bytes to the frame collector and the
// receiver, fire the receiver's time-outs and look at the state they keep.

#include "usb_console.h"

#include <cstring>

class ConsoleProbe
{
public:
    // The console's serial descriptor becomes fd (the sysroot has no
    // terminal, so the console's own open failed). detach() gives it back
    // before the console is destroyed, which would otherwise close it.
    static void attach(USB_console &c, int fd) { c.serialFd = fd; }
    static void detach(USB_console &c) { c.serialFd = -1; }

    // Frame collector.
    static void collect(USB_console &c, unsigned char b) { c.collectCommandByte(b); }
    static int state(const USB_console &c) { return c.consoleState; }
    static int index(const USB_console &c) { return c.cmdIndex; }
    static const char *frame(const USB_console &c) { return c.cmdBuf; }
    // Drops the frame being collected, as if its closing '#' never came.
    static void dropFrame(USB_console &c)
    {
        c.consoleState = ConsoleIdle;
        c.cmdIndex = 0;
    }
    static const char *fileName(const USB_console &c) { return c.fileName; }
    static const char *fileHash(const USB_console &c) { return c.fileHash; }
    static int totalSize(const USB_console &c) { return c.totalSize; }

    // Receiver: starts a LOAD reception of size bytes into tmp/name, as the
    // LOAD frame's parser leaves it.
    static void receive(USB_console &c, const char *name, int size)
    {
        strncpy(c.fileName, name, sizeof c.fileName - 1);
        c.fileName[sizeof c.fileName - 1] = '\0';
        c.totalSize = size;
        c.remainSize = static_cast<unsigned int>(size);
        c.runtimeLoad = PlainLoad;
        c.StartXmodem();
    }
    static void read(USB_console &c) { c.ReadSerial(); }
    static int mode(const USB_console &c) { return c.rxMode; }
    static int assembled(const USB_console &c) { return c.rxCount; }
    static int expected(const USB_console &c) { return c.rxExpected; }
    static unsigned int errors(const USB_console &c) { return c.rxErrors; }
    static unsigned int remaining(const USB_console &c) { return c.remainSize; }
    static void packetTimeOut(USB_console &c) { c.PacketTimeOut(); }
    static void startTimeOut(USB_console &c) { c.ReceiveTimeOut(); }
};

#endif
