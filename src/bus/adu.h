#pragma once
// The frame around a Modbus request or answer. The function code and its data (the PDU) are the
// same on every port; what surrounds them depends on the port's framing:
//   RTU        address, PDU, CRC-16 low byte first (serial lines and RTU over TCP)
//   Modbus TCP transaction id, protocol id 0, length, unit id = the meter's address, PDU; no CRC
// This is the one place where the two differ; the master builds and checks PDUs through it.

#include <cstdint>

#include "bus/serial_port.h"

namespace quorna {

// Modbus RTU CRC-16 (reflected 0xA001, start 0xFFFF); the low byte goes first on the wire.
// Over a whole intact frame, its own CRC included, the result is 0.
std::uint16_t crc16(const std::uint8_t* bytes, int length);

class AduFormat {
public:
    explicit AduFormat(Framing framing) : m_framing(framing) {}

    // Bytes before the function code: the address (1), or the MBAP header (7).
    [[nodiscard]] int headerLength() const { return m_framing == Framing::Rtu ? 1 : 7; }
    // Bytes after the PDU: the CRC (2), or none.
    [[nodiscard]] int trailerLength() const { return m_framing == Framing::Rtu ? 2 : 0; }
    [[nodiscard]] int overhead() const { return headerLength() + trailerLength(); }

    // Frames the pduLength bytes that stand at frame + headerLength(): writes the header before
    // them and the trailer after them. Returns the length of the whole frame.
    int wrap(std::uint8_t* frame, int address, int pduLength, std::uint16_t transactionId) const;
    // Whether n received bytes are an unbroken frame of this exchange: the CRC over the whole
    // frame is 0; or the header carries the request's transaction id, protocol 0 and the length
    // of what arrived. Stands where the CRC check stands, so a failure is ModbusError::CrcError.
    [[nodiscard]] bool intact(const std::uint8_t* frame, int n, std::uint16_t transactionId) const;
    // The address the frame comes from (the unit id over Modbus TCP).
    [[nodiscard]] int address(const std::uint8_t* frame) const { return frame[headerLength() - 1]; }

private:
    Framing m_framing;
};

}  // namespace quorna
