// The XMODEM-1K/CRC-16 receiver: the start handshake, the byte intake that
// assembles 1029-byte packets, the packet check and the two time-outs.

#include "usb_console.h"

#include "xmodem.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int FirstRetryMs = 200;
constexpr int RetryMs = 250;
constexpr unsigned int StartRetries = 10;
constexpr int PacketMs = 2000;
constexpr unsigned int PacketTimeoutAcks = 3;
constexpr unsigned int RejectNaks = 3;
constexpr int ReadChunk = 256;

} // namespace

void USB_console::StartXmodem()
{
    if (rxMode != RxOff) {
        printf("CXM: Previous File Rx not completed\n");
        return;
    }
    rxStartTries = 0;
    xmodemStatus = RxStarted;
    rxPacketState = PacketGood;
    rxCount = 0;
    rxExpected = 0;
    rxErrors = 0;
    rxPacketTimeouts = 0;
    rxBlock = 1;

    // The path is kept: the end of the reception checks the file written.
    QByteArray &path = rxPath;
    path.clear();
    if (runtimeLoad == FirmwareLoad)
        md5->reset();
    else
        path = "tmp/";
    if (fileName[0] == '\0') {
        path += "tmp.txt";
    } else {
        messageLabel->setText(QStringLiteral("Receiving..."));
        path += fileName;
    }
    printf("CXM: Tx:%s\n", path.constData());

    // A download announced moments ago gives way to this upload: its file is
    // closed here, and the send finds nothing to arm when its delay ends.
    if (txFile) {
        fclose(txFile);
        txFile = nullptr;
    }
    txFile = fopen(path.constData(), "wb");
    if (!txFile) {
        printf("CXM: Can't Open File\n");
        xmodemStatus = RxCannotOpen;
        StopXmodem();
        return;
    }
    // Unbuffered, so that a write the file system refuses is seen at the
    // packet that carried it and not later, at a close nobody checks.
    setvbuf(txFile, nullptr, _IONBF, 0);

    if (serialFd >= 0)
        tcflush(serialFd, TCIOFLUSH);
    rxMode = RxOn;
    rxTimer->start(FirstRetryMs);
    WriteChar(xmodem::CRC_REQUEST);
    printf("CXM: Start\n");
}

void USB_console::receiveBytes()
{
    unsigned char b;
    const ssize_t got = serialFd < 0 ? -1 : ::read(serialFd, &b, 1);
    if (got < 0 && serialFd >= 0 && (errno == EAGAIN || errno == EINTR))
        return; // a spurious wake-up, not a broken link
    if (got <= 0) {
        printf("CXM: RX Error\n");
        resetUSBSerial();
        xmodemStatus = RxReadFailed;
        // Within a packet or before the first one a timer ends the reception;
        // between packets none runs, and the reception would wait forever.
        if (!rxTimer->isActive() && !packetTimer->isActive())
            StopXmodem();
        return;
    }

    if (rxExpected == 0 && !startPacket(b))
        return;

    const int packetSize = rxExpected + 5;
    rxPacket[rxCount++] = b;
    // Never more than the packet still lacks: whatever follows stays in the
    // driver and is read as the next packet's header byte.
    const int room = qMin(ReadChunk, packetSize - rxCount);
    if (room > 0) {
        const ssize_t n = ::read(serialFd, rxPacket + rxCount, static_cast<size_t>(room));
        if (n > 0)
            rxCount += static_cast<int>(n);
    }

    if (rxCount == packetSize) {
        packetTimer->stop();
        ProcessRxPackage();
        rxCount = 0;
        rxExpected = 0;
    }
}

// The first byte after a packet (or the start): STX starts the next packet;
// EOT, CAN and anything else end the reception. True when a packet starts.
bool USB_console::startPacket(unsigned char b)
{
    rxTimer->stop();
    switch (b) {
    case xmodem::EOT:
        printf("CXM: rx EOT\n");
        xmodemStatus = RxComplete;
        StopXmodem();
        return false;
    case xmodem::CAN:
        xmodemStatus = RxCancelled;
        printf("CXM: Cancel Rx\n");
        StopXmodem();
        return false;
    case xmodem::STX:
        xmodemStatus = RxInPacket;
        packetTimer->start(PacketMs);
        rxExpected = xmodem::DataSize;
        return true;
    default: {
        printf("CXM: Unexpected Char %c-0x%02x\n", b, b);
        xmodemStatus = RxReadFailed;
        emit RetryXmodem();
        const ssize_t more = ::read(serialFd, rxPacket, 1);
        printf("Rx: %d\n", static_cast<int>(more));
        StopXmodem();
        return false;
    }
    }
}

void USB_console::ProcessRxPackage()
{
    const unsigned int block = rxPacket[1];
    // The intake starts a packet only at STX, so the start byte always fits.
    const xmodem::Check check = xmodem::checkPacket(rxPacket);
    if (check == xmodem::Check::NotStx || check == xmodem::Check::BadComplement) {
        printf("CXM: Packet Num. Err\n");
        rejectPacket();
        return;
    }
    if (block != rxBlock) {
        printf("CXM: Packet Seq. Err %d %d\n", block, rxBlock);
        rejectPacket();
        return;
    }
    fputs(rxBlock % 64 == 0 ? ".\n" : ".", stdout);
    if (check == xmodem::Check::BadCrc) {
        const unsigned char *data = rxPacket + 3;
        const unsigned int sent = (rxPacket[xmodem::DataSize + 3] << 8) | rxPacket[xmodem::DataSize + 4];
        printf("CXM: CRC Err : %d/%d len %d\n", xmodem::crc16(data, xmodem::DataSize), sent, xmodem::DataSize);
        for (int i = 0; i < 32; ++i)
            printf("%2x ", data[i]);
        printf("\n");
        rejectPacket();
        return;
    }
    storePacket();
}

void USB_console::rejectPacket()
{
    rxPacketState = PacketRejected;
    ++rxErrors;
    if (rxErrors <= RejectNaks) {
        WriteChar(xmodem::NAK);
        return;
    }
    printf("CXM: Packet Retry Overlimit\n");
    xmodemStatus = RxTooManyRejects;
    WriteChar(xmodem::CAN);
    WriteChar(xmodem::CAN);
    StopXmodem();
}

void USB_console::storePacket()
{
    // The last piece of the file empties remainSize, so a surplus packet
    // from the host adds nothing beyond the announced size.
    unsigned int n;
    if (remainSize > static_cast<unsigned int>(xmodem::DataSize)) {
        n = xmodem::DataSize;
        remainSize -= xmodem::DataSize;
    } else {
        n = remainSize;
        remainSize = 0;
    }
    setCurrentProgress(currentProgress() + static_cast<int>(n));
    if (n < static_cast<unsigned int>(xmodem::DataSize))
        printf("\nCXM: Last Pk Byte: %d\n", n);

    if (fwrite(rxPacket + 3, 1, n, txFile) == n) {
        rxPacketState = PacketGood;
        rxErrors = 0;
        rxPacketTimeouts = 0;
        rxExpected = 0;
        WriteChar(xmodem::ACK);
        rxBlock = (rxBlock + 1) & 0xFF;
    } else {
        printf("CXM: File Error\n");
        xmodemStatus = RxWriteFailed;
        // The host would otherwise resend the packet into the command
        // collector; the CAN pair makes it give up cleanly.
        WriteChar(xmodem::CAN);
        WriteChar(xmodem::CAN);
        StopXmodem();
    }
}

void USB_console::ReceiveTimeOut()
{
    rxTimer->stop();
    if (rxMode != RxOn || rxBlock != 1)
        return;
    ++rxStartTries;
    if (rxStartTries > StartRetries) {
        printf("CXM: TimeOut\n");
        xmodemStatus = RxNoStart;
        StopXmodem();
    } else {
        emit RetryXmodem();
    }
}

void USB_console::RetryXmodemRx()
{
    rxTimer->start(RetryMs);
    fputs("C", stdout);
    WriteChar(xmodem::CRC_REQUEST);
}

void USB_console::PacketTimeOut()
{
    if (rxMode != RxOn) {
        packetTimer->stop();
        return;
    }
    if (rxPacketTimeouts < PacketTimeoutAcks) {
        WriteChar(xmodem::ACK);
        printf("retry, ACK %d\n", rxPacketTimeouts);
        rxCount = 0;
        ++rxPacketTimeouts;
        packetTimer->start(PacketMs);
    } else {
        rxPacketTimeouts = 0;
        printf("CXM: Packet TimeOut\n");
        xmodemStatus = RxPacketTimedOut;
        packetTimer->stop();
        StopXmodem();
    }
}

void USB_console::setTotalFileSize(quint64 size)
{
    if (progressBar->isHidden())
        progressBar->show();
    progressBar->setValue(0);
    printf("CXM: Progress Bar %d\n", static_cast<int>(size));
    // A size beyond the bar's int range (or FINF's "no size") keeps a range
    // that still contains the values the transfers set.
    progressBar->setMaximum(static_cast<int>(qMin<quint64>(size, INT_MAX)));
}

void USB_console::setCurrentProgress(int value)
{
    if (progressBar->isHidden())
        progressBar->show();
    progressBar->setValue(value);
}

int USB_console::currentProgress() { return progressBar->value(); }
