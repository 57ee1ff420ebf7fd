#include "bus/adu.h"

#include <array>

namespace quorna {
namespace {

struct CrcTables {
    std::array<std::uint8_t, 256> high{};
    std::array<std::uint8_t, 256> low{};
};

constexpr CrcTables makeCrcTables() {
    CrcTables tables;
    for (int i = 0; i < 256; ++i) {
        unsigned crc = static_cast<unsigned>(i);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xA001U : crc >> 1;
        tables.high[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> 8);
        tables.low[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc & 0xFF);
    }
    return tables;
}

constexpr CrcTables kCrcTables = makeCrcTables();

constexpr int kMbapProtocolModbus = 0;

}  // namespace

std::uint16_t crc16(const std::uint8_t* bytes, int length) {
    std::uint8_t low = 0xFF;
    std::uint8_t high = 0xFF;
    for (int i = 0; i < length; ++i) {
        const std::uint8_t index = static_cast<std::uint8_t>(low ^ bytes[i]);
        low = static_cast<std::uint8_t>(high ^ kCrcTables.low[index]);
        high = kCrcTables.high[index];
    }
    return static_cast<std::uint16_t>(high << 8 | low);
}

int AduFormat::wrap(std::uint8_t* frame, int address, int pduLength, std::uint16_t transactionId) const {
    if (m_framing == Framing::Rtu) {
        frame[0] = static_cast<std::uint8_t>(address);
        const std::uint16_t crc = crc16(frame, 1 + pduLength);
        frame[1 + pduLength] = static_cast<std::uint8_t>(crc & 0xFF);
        frame[2 + pduLength] = static_cast<std::uint8_t>(crc >> 8);
        return 3 + pduLength;
    }
    const int length = 1 + pduLength;  // the unit id and the PDU
    frame[0] = static_cast<std::uint8_t>(transactionId >> 8);
    frame[1] = static_cast<std::uint8_t>(transactionId & 0xFF);
    frame[2] = static_cast<std::uint8_t>(kMbapProtocolModbus >> 8);
    frame[3] = static_cast<std::uint8_t>(kMbapProtocolModbus & 0xFF);
    frame[4] = static_cast<std::uint8_t>(length >> 8);
    frame[5] = static_cast<std::uint8_t>(length & 0xFF);
    frame[6] = static_cast<std::uint8_t>(address);
    return 6 + length;
}

bool AduFormat::intact(const std::uint8_t* frame, int n, std::uint16_t transactionId) const {
    if (m_framing == Framing::Rtu) return crc16(frame, n) == 0;
    if (n < headerLength()) return false;
    return (frame[0] << 8 | frame[1]) == transactionId && (frame[2] << 8 | frame[3]) == kMbapProtocolModbus &&
           (frame[4] << 8 | frame[5]) == n - 6;
}

}  // namespace quorna
