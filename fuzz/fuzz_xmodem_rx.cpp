// The XMODEM receiver's byte intake and packet check, fed an arbitrary byte
// stream as the host would send it after "<LOAD:ACK>".
//
// Input: one option byte, then the stream. Bit 0 of the option byte asks for
// every complete packet in the stream (STX and 1028 bytes after it) to get a
// correct CRC, so that mutations reach past the checksum into block numbers,
// sizes and file writes; the other bits choose the announced file size.
//
// The stream goes through a pipe whose read end stands in for the serial
// link, so the intake's reads of 1 and of up to 256 bytes meet real partial
// reads. When a reception ends with bytes left, another one starts on them.
// At the end of the input the receiver's time-outs fire until it gives up.

#include "console_probe.h"
#include "fuzz_support.h"
#include "hdw_config.h"
#include "xmodem.h"

#include <QWidget>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// The host's side writes into [1]; the console reads from [0]. The console's
// replies to [0] fail (a read end), which it ignores as it would a lost reply.
int serialPipe[2] = { -1, -1 };

const char target[] = "fuzz.bin";
const char targetPath[] = "tmp/fuzz.bin";

size_t pending()
{
    int n = 0;
    fuzz::expect(ioctl(serialPipe[0], FIONREAD, &n) == 0, "the link's pending byte count");
    return static_cast<size_t>(n);
}

void seal(std::vector<uint8_t> &stream)
{
    size_t i = 0;
    while (i + xmodem::PacketSize <= stream.size()) {
        if (stream[i] != xmodem::STX) {
            ++i;
            continue;
        }
        const unsigned int crc = xmodem::crc16(&stream[i + 3], xmodem::DataSize);
        stream[i + 3 + xmodem::DataSize] = static_cast<uint8_t>(crc >> 8);
        stream[i + 4 + xmodem::DataSize] = static_cast<uint8_t>(crc);
        i += xmodem::PacketSize;
    }
}

// The received file never holds more than the size its command announced.
void checkFile(int announced)
{
    struct stat st {};
    if (stat(targetPath, &st) == 0)
        fuzz::expect(st.st_size <= announced, "the received file stays within the announced size");
}

void checkReceiver(USB_console &c, int announced)
{
    const int count = ConsoleProbe::rxCount(c);
    fuzz::expect(count >= 0 && count <= xmodem::PacketSize, "a packet never outgrows 1029 bytes");
    fuzz::expect(ConsoleProbe::rxExpected(c) == 0 || ConsoleProbe::rxExpected(c) == xmodem::DataSize,
                 "a packet carries 1024 data bytes");
    fuzz::expect(ConsoleProbe::rxErrors(c) <= 4, "the fourth rejected packet ends the reception");
    fuzz::expect(ConsoleProbe::remainSize(c) <= static_cast<unsigned int>(announced),
                 "the bytes still to write never exceed the announced size");
}

void receive(const std::vector<uint8_t> &stream, int announced)
{
    HDW_config hw;
    QWidget holder;
    USB_console console(nullptr, &hw);
    fuzz::adoptWidgets(&holder, console);
    // The sysroot has no terminal: the pipe stands in, given back before the console would close it.
    ConsoleProbe::serialFd(console) = serialPipe[0];

    size_t sent = 0;
    bool open = true;
    while (open && (sent < stream.size() || pending() > 0)) {
        if (sent < stream.size()) {
            const ssize_t n = ::write(serialPipe[1], stream.data() + sent, stream.size() - sent);
            if (n > 0)
                sent += static_cast<size_t>(n);
        }
        while (pending() > 0) {
            if (ConsoleProbe::rxMode(console) == 0) {
                checkFile(announced);
                ConsoleProbe::receive(console, target, announced);
                if (ConsoleProbe::rxMode(console) == 0) {
                    open = false; // the file cannot be opened: nothing more to learn
                    break;
                }
            }
            ConsoleProbe::read(console);
            checkReceiver(console, announced);
        }
    }

    // The host falls silent: within a packet the packet timer, before the
    // first packet the start timer ends the reception. Between packets no
    // timer runs, and the reception waits for the next header byte.
    for (int i = 0; i < 4 && ConsoleProbe::rxMode(console) == 1 && ConsoleProbe::rxExpected(console) != 0; ++i)
        ConsoleProbe::packetTimeOut(console);
    for (int i = 0; i < 11 && ConsoleProbe::rxMode(console) == 1 && ConsoleProbe::rxExpected(console) == 0; ++i)
        ConsoleProbe::startTimeOut(console);
    checkReceiver(console, announced);
    ConsoleProbe::serialFd(console) = -1;
    // Drop whatever a stopped reception left unread.
    char rest[4096];
    while (::read(serialPipe[0], rest, sizeof rest) > 0) {
    }
    // The destructor closes a file still open.
}

void run(const uint8_t *data, size_t size)
{
    if (size == 0)
        return;
    const int announced = 1 + (data[0] >> 1) * 97; // 1 to 12,320 bytes
    std::vector<uint8_t> stream(data + 1, data + size);
    if (data[0] & 1)
        seal(stream);
    fuzz::removeFile(QString::fromLatin1(targetPath));
    receive(stream, announced);
    checkFile(announced);
}

QByteArray prepare()
{
    fuzz::expect(pipe2(serialPipe, O_NONBLOCK | O_CLOEXEC) == 0, "the link pipe");
    // One good packet of a 5-byte file and the end of transmission.
    QByteArray warmUp(1 + xmodem::PacketSize + 1, '\0');
    xmodem::buildPacket(reinterpret_cast<unsigned char *>(warmUp.data()) + 1, 1, reinterpret_cast<const unsigned char *>("hello"), 5);
    warmUp[warmUp.size() - 1] = char(xmodem::EOT);
    return warmUp;
}

} // namespace

KVX_FUZZ_TARGET(run, prepare)
