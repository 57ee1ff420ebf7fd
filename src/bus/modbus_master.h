#pragma once
// Single Modbus RTU transactions on the serial link: read holding registers (3), write single
// register (6) and report slave ID (17). One attempt each, no retry; the callers count failures.

#include <cstdint>
#include <string>

#include "bus/serial_link.h"

namespace quorna {

enum class ModbusError : int {
    Ok = 0,
    Timeout = 1,
    ResponseTooLarge = 2,
    WrongByteCount = 3,
    ExceptionResponse = 4,
    CrcError = 5,
    WrongAddress = 6,
    WrongFunction = 7,
    WrongDataLength = 8,
    WriteNotConfirmed = 9,
    InvalidParameter = 10,
};

// The operator's text of a code ("Ok", "Err #1, Timeout Waiting For Response", ...).
// Codes outside 0 to 10 give an empty text.
const char* errorText(ModbusError code);
inline int errorCode(ModbusError code) { return static_cast<int>(code); }

inline constexpr int kMaxReadCount = 509;
inline constexpr int kMaxWriteRegister = 1023;
// The device text of a report-slave-ID answer fits this many bytes, ending zero included.
inline constexpr int kDeviceTextCapacity = 94;

// Modbus RTU CRC-16 (reflected 0xA001, start 0xFFFF); the low byte goes first on the wire.
// Over a whole intact frame, its own CRC included, the result is 0.
std::uint16_t crc16(const std::uint8_t* bytes, int length);

// On success out[i] holds register start + i (0 to 65535); on failure out is left as it was.
[[nodiscard]] ModbusError readRegisters(SerialLink& link, int address, int start, int count, std::int32_t* out);
[[nodiscard]] ModbusError writeRegister(SerialLink& link, int address, int reg, int value);
// On success: the slave ID, the device text (zero-ended, at most kDeviceTextCapacity bytes with
// the zero) and the slave ID stored into MeterDirectory at the address. On failure nothing changes.
[[nodiscard]] ModbusError reportSlaveId(SerialLink& link, int address, int& slaveId, std::string& deviceText);

}  // namespace quorna
