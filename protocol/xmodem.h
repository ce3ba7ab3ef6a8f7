#ifndef KVX_XMODEM_H
#define KVX_XMODEM_H

// XMODEM-1K with CRC-16: the packet format and checksum shared by the panel's
// receiver and sender and by the host tool.

#include <cstddef>

namespace xmodem {

enum : unsigned char {
    SOH = 0x01,
    STX = 0x02,
    EOT = 0x04,
    ACK = 0x06,
    NAK = 0x15,
    CAN = 0x18,
    SUB = 0x1A,
    CRC_REQUEST = 'C',
};

constexpr int DataSize = 1024;
constexpr int PacketSize = DataSize + 5;

// Advances a CRC-16/XMODEM by one byte (polynomial 0x1021, no table).
unsigned int updateCrc(unsigned int crc, unsigned char data);

// CRC-16/XMODEM of a whole buffer, starting from 0.
unsigned int crc16(const unsigned char *data, size_t n);

// Fills the header (STX, block, complement) and the CRC of a packet whose 1024
// data bytes already stand at packet[3..1026].
void sealPacket(unsigned char *packet, unsigned int block);

// Builds a whole packet: the n (at most 1024) data bytes, the rest of the data
// field padded with SUB, then header and CRC as sealPacket does.
void buildPacket(unsigned char *packet, unsigned int block, const unsigned char *data, size_t n);

enum class Check { Good, NotStx, BadComplement, BadCrc };

// Checks the start byte, the block number against its complement and the CRC
// of a complete 1029-byte packet. The block sequence is the caller's to judge.
Check checkPacket(const unsigned char *packet);

} // namespace xmodem

#endif
