// Sending a file to the host with XMODEM-1K and CRC-16: the size reply, the
// wait for the host's 'C', one packet per ACK, resends on NAK and the EOT.

#include "usb_console.h"

#include "replies.h"

#include "xmodem.h"

#include <QTimer>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

// The host gets this long after the size reply before the panel takes its
// bytes as handshake, and then this long to ask for the first packet.
static const int listenDelayMs = 400;
static const int startWaitMs = 5000;

// Opens name for sending and takes its size. Only a regular file of a size
// that the packet counters can hold is sent: a directory opens fine but can
// be neither measured nor read.
static FILE *openForSending(const char *name, long *size)
{
    FILE *f = fopen(name, "rb");
    if (!f)
        return nullptr;
    // Each packet reads the file as it is then, not as a read-ahead buffer
    // saw it when the size was taken.
    setvbuf(f, nullptr, _IONBF, 0);
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || fseek(f, 0, SEEK_END) != 0) {
        fclose(f);
        return nullptr;
    }
    *size = ftell(f);
    if (*size < 0 || *size > INT_MAX - xmodem::DataSize || fseek(f, 0, SEEK_SET) != 0) {
        fclose(f);
        return nullptr;
    }
    return f;
}

void USB_console::TxFileStart(char *name)
{
    printf("CXM: GETF:%s\n", name);
    // A GETF inside the 400 ms of an earlier one replaces it.
    txDelayTimer->stop();
    if (txFile) {
        fclose(txFile);
        txFile = nullptr;
    }

    long size = 0;
    txFile = openForSending(name, &size);
    if (!txFile) {
        printf("CXM: File Open Error\n");
        writeReply(reply::GetFileRefused);
        return;
    }
    totalSize = static_cast<int>(size);

    txStarted = 0;
    // Always one packet more than the full ones: a size that is a multiple
    // of 1024 (an empty file too) ends with a packet of padding only.
    txPacketTotal = totalSize / xmodem::DataSize + 1;
    txRemainder = totalSize % xmodem::DataSize;
    printf("CXM: %d Packet + %dbytes\n", txPacketTotal, txRemainder);

    if (sendProgress)
        setTotalFileSize(static_cast<quint64>(totalSize));

    char reply[32];
    const int n = snprintf(reply, sizeof reply, "<GETF:%ld>", size);
    writeBytes(reply, static_cast<size_t>(n));

    txDelayTimer->start(listenDelayMs);
}

static void closeFile(FILE **file)
{
    if (*file) {
        fclose(*file);
        *file = nullptr;
    }
}

void USB_console::TxDelayStart()
{
    txDelayTimer->stop();
    // A reception started by the host inside the delay owns the file handle
    // and the serial input now; the send is dropped rather than armed.
    if (rxMode != RxOff || !txFile) {
        printf("CXM: TX File Timeout\n");
        return;
    }
    txTimer->start(startWaitMs);
    consoleState = ConsoleSending;
}

void USB_console::TxTimeOut()
{
    txTimer->stop();
    txStarted = 0;
    closeFile(&txFile);
    consoleState = ConsoleIdle;
    printf("CXM: TX File Timeout\n");
}

// Data length of the packet txPacketIndex: the remainder for the last one.
static int packetLength(int index, int total, int remainder) { return index == total ? remainder : xmodem::DataSize; }

void USB_console::TxFile_handshake(char c)
{
    const unsigned char b = static_cast<unsigned char>(c);
    if (!txStarted) {
        // Until the host asks for the first packet only its 'C' counts.
        if (b != xmodem::CRC_REQUEST)
            return;
        txTimer->stop();
        printf("CXM: Start Tx\n");
        txStarted = 1;
        rxBlock = 1;
        txPacketIndex = 1;
        TxPacket(packetLength(txPacketIndex, txPacketTotal, txRemainder), 0);
        return;
    }

    switch (b) {
    case xmodem::ACK:
        if (txPacketIndex == txPacketTotal) {
            WriteChar(xmodem::EOT);
            txStarted = 0;
            closeFile(&txFile);
            printf("\nCXM: End Tx\n");
            consoleState = ConsoleIdle;
        } else {
            ++txPacketIndex;
            rxBlock = (rxBlock + 1) & 0xFF;
            TxPacket(packetLength(txPacketIndex, txPacketTotal, txRemainder), 0);
        }
        break;
    case xmodem::NAK:
        TxPacket(packetLength(txPacketIndex, txPacketTotal, txRemainder), 1);
        printf("NAK,Retry\n");
        break;
    case xmodem::CAN:
        txStarted = 0;
        closeFile(&txFile);
        printf("CXM:Break Transfer\n");
        consoleState = ConsoleIdle;
        break;
    default:
        printf("CXM:Unknown %c\n", c);
        break;
    }
}

void USB_console::TxPacket(int len, int resend)
{
    unsigned char *data = rxPacket + 3;
    if (!resend) {
        // A file that shrank since its size was announced yields fewer bytes
        // than the packet should carry; the gap is padded like the tail, so
        // no stale bytes of an earlier packet go out.
        size_t got = 0;
        if (txFile && len > 0)
            got = fread(data, 1, static_cast<size_t>(len), txFile);
        memset(data + got, xmodem::SUB, xmodem::DataSize - got);
    }
    xmodem::sealPacket(rxPacket, rxBlock);

    // One write per packet; its result is the only one the console looks at.
    ssize_t written = -1;
    if (serialFd >= 0)
        written = ::write(serialFd, rxPacket, xmodem::PacketSize);
    if (!resend && sendProgress)
        setCurrentProgress(currentProgress() + len);
    if (written != xmodem::PacketSize)
        printf("TxErr ");

    if (rxBlock % 64 == 0)
        printf(".\n");
    else
        printf(".");
}
