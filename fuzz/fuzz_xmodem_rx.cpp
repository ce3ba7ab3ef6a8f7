// The XMODEM receiver's intake, fed a host's byte stream after "<LOAD:ACK>".
// Input: an option byte (bit 0: every complete STX packet gets a correct CRC,
// so mutations reach block numbers and writes; the rest: the announced size),
// then the stream (its first 32 KiB), through a pipe standing in for the link so that reads meet
// real partial reads. Bytes left after a reception start another; at the end
// the time-outs fire until the receiver gives up.

#include "console_probe.h"
#include "fuzz_support.h"
#include "xmodem.h"

#include <QFileInfo>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// The host writes into [1]; the console reads [0] (its replies there fail, as lost ones would).
int serialPipe[2] = { -1, -1 };

const char target[] = "fuzz.bin", targetPath[] = "tmp/fuzz.bin";
// The whole stream goes into the pipe at once: well within its 64 KiB.
const size_t streamLimit = 32768;

size_t pending()
{
    int n = 0;
    fuzz::expect(ioctl(serialPipe[0], FIONREAD, &n) == 0, "the link's pending byte count");
    return static_cast<size_t>(n);
}

void seal(std::vector<uint8_t> &stream)
{
    for (size_t i = 0; i + xmodem::PacketSize <= stream.size(); ++i) {
        if (stream[i] != xmodem::STX)
            continue;
        const unsigned int crc = xmodem::crc16(&stream[i + 3], xmodem::DataSize);
        stream[i + 3 + xmodem::DataSize] = static_cast<uint8_t>(crc >> 8);
        stream[i + 4 + xmodem::DataSize] = static_cast<uint8_t>(crc);
        i += xmodem::PacketSize - 1;
    }
}

void checkFile(int announced)
{
    fuzz::expect(QFileInfo(QString::fromLatin1(targetPath)).size() <= announced, "the received file stays within the announced size");
}

void checkReceiver(USB_console &c, int announced)
{
    fuzz::expect(ConsoleProbe::rxCount(c) >= 0 && ConsoleProbe::rxCount(c) <= xmodem::PacketSize, "a packet never outgrows 1029 bytes");
    fuzz::expect(ConsoleProbe::rxExpected(c) == 0 || ConsoleProbe::rxExpected(c) == xmodem::DataSize, "1024 data bytes a packet");
    fuzz::expect(ConsoleProbe::rxErrors(c) <= 4, "the fourth rejected packet ends the reception");
    fuzz::expect(ConsoleProbe::remainSize(c) <= static_cast<unsigned int>(announced), "never more to write than announced");
}

void receive(const std::vector<uint8_t> &stream, int announced)
{
    PanelConsole panel;
    USB_console &console = panel.console;
    ConsoleProbe::serialFd(console) = serialPipe[0];

    fuzz::expect(::write(serialPipe[1], stream.data(), stream.size()) == static_cast<ssize_t>(stream.size()), "the stream fits the link");
    while (pending() > 0) {
        if (ConsoleProbe::rxMode(console) == 0) {
            checkFile(announced);
            ConsoleProbe::receive(console, target, announced);
            if (ConsoleProbe::rxMode(console) == 0)
                break; // the file cannot be opened: nothing more to learn
        }
        ConsoleProbe::read(console);
        checkReceiver(console, announced);
    }

    // Silence: within a packet the packet timer, before the first the start timer ends it.
    for (int i = 0; i < 4 && ConsoleProbe::rxMode(console) == 1 && ConsoleProbe::rxExpected(console) != 0; ++i)
        ConsoleProbe::packetTimeOut(console);
    for (int i = 0; i < 11 && ConsoleProbe::rxMode(console) == 1 && ConsoleProbe::rxExpected(console) == 0; ++i)
        ConsoleProbe::startTimeOut(console);
    checkReceiver(console, announced);
    ConsoleProbe::serialFd(console) = -1;
    for (char rest[4096]; ::read(serialPipe[0], rest, sizeof rest) > 0;) { // what a stopped reception left unread
    }
}

void run(const uint8_t *data, size_t size)
{
    if (size == 0)
        return;
    const int announced = 1 + (data[0] >> 1) * 97; // 1 to 12,320 bytes
    std::vector<uint8_t> stream(data + 1, data + qMin(size, streamLimit + 1));
    if (data[0] & 1)
        seal(stream);
    QFile::remove(QString::fromLatin1(targetPath));
    receive(stream, announced);
    checkFile(announced);
}

QByteArray prepare()
{
    fuzz::expect(pipe2(serialPipe, O_NONBLOCK | O_CLOEXEC) == 0, "the link pipe");
    QByteArray warmUp(1 + xmodem::PacketSize + 1, '\0');
    xmodem::buildPacket(reinterpret_cast<unsigned char *>(warmUp.data()) + 1, 1, reinterpret_cast<const unsigned char *>("hello"), 5);
    warmUp[warmUp.size() - 1] = char(xmodem::EOT);
    return warmUp;
}

} // namespace

KVX_FUZZ_TARGET(run, prepare)
