#include "xmodem.h"

#include <cstring>

namespace xmodem {

unsigned int updateCrc(unsigned int crc, unsigned char data)
{
    crc = ((crc >> 8) | (crc << 8)) & 0xFFFF;
    crc ^= data;
    crc ^= (crc & 0xFF) >> 4;
    crc ^= (crc << 12) & 0xFFFF;
    crc ^= (crc & 0xFF) << 5;
    return crc & 0xFFFF;
}

unsigned int crc16(const unsigned char *data, size_t n)
{
    unsigned int crc = 0;
    for (size_t i = 0; i < n; ++i)
        crc = updateCrc(crc, data[i]);
    return crc;
}

void sealPacket(unsigned char *packet, unsigned int block)
{
    const unsigned int crc = crc16(packet + 3, DataSize);
    packet[0] = STX;
    packet[1] = static_cast<unsigned char>(block & 0xFF);
    packet[2] = static_cast<unsigned char>(~block & 0xFF);
    packet[DataSize + 3] = static_cast<unsigned char>((crc >> 8) & 0xFF);
    packet[DataSize + 4] = static_cast<unsigned char>(crc & 0xFF);
}

void buildPacket(unsigned char *packet, unsigned int block, const unsigned char *data, size_t n)
{
    if (n > static_cast<size_t>(DataSize))
        n = DataSize;
    if (n > 0)
        memcpy(packet + 3, data, n);
    memset(packet + 3 + n, SUB, DataSize - n);
    sealPacket(packet, block);
}

Check checkPacket(const unsigned char *packet)
{
    if (packet[0] != STX)
        return Check::NotStx;
    if (packet[1] + packet[2] != 0xFF)
        return Check::BadComplement;
    const unsigned int sent = (static_cast<unsigned int>(packet[DataSize + 3]) << 8) | packet[DataSize + 4];
    return crc16(packet + 3, DataSize) == sent ? Check::Good : Check::BadCrc;
}

} // namespace xmodem
