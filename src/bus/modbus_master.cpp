#include "bus/modbus_master.h"

#include <array>

namespace quorna {
namespace {

constexpr std::uint8_t kReadHoldingRegisters = 3;
constexpr std::uint8_t kWriteSingleRegister = 6;
constexpr std::uint8_t kReportSlaveId = 17;
constexpr std::uint8_t kExceptionBit = 0x80;

// Receive buffers hold the largest answer each function asks for.
constexpr int kReadSlack = 25;  // bytes asked beyond the expected answer of a read
constexpr int kWriteReceiveSize = 12;
constexpr int kSlaveIdReceiveSize = 100;
constexpr int kMinSlaveIdAnswer = 7;

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

void appendCrc(std::uint8_t* frame, int length) {
    const std::uint16_t crc = crc16(frame, length);
    frame[length] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[length + 1] = static_cast<std::uint8_t>(crc >> 8);
}

// The common part of every transaction: trace the request, purge, send, read, trace the answer.
ReadOutcome exchange(Bus& bus, const std::uint8_t* request, int requestLength, std::uint8_t* response,
                     int maxResponse, int& received) {
    bus.trace.beginExchange(request, requestLength);
    purgeInput(bus);
    writeBytes(bus.link, request, requestLength);
    const ReadOutcome outcome = readResponse(bus.link, response, maxResponse, received);
    if (received > maxResponse) received = maxResponse;
    bus.trace.endExchange(response, received);
    if (bus.traceLive) bus.op.repaintTrace();
    return outcome;
}

}  // namespace

const char* errorText(ModbusError code) {
    switch (code) {
        case ModbusError::Ok: return "Ok";
        case ModbusError::Timeout: return "Err #1, Timeout Waiting For Response";
        case ModbusError::ResponseTooLarge: return "Err #2, Response Too Large for Buffer";
        case ModbusError::WrongByteCount: return "Err #3, Response Has Incorrect Number of Bytes";
        case ModbusError::ExceptionResponse: return "Err #4, Exception Response from Modbus Device";
        case ModbusError::CrcError: return "Err #5, CRC Error";
        case ModbusError::WrongAddress: return "Err #6, Response from Wrong Address";
        case ModbusError::WrongFunction: return "Err #7, Response with incorrect function code";
        case ModbusError::WrongDataLength: return "Err #8, Response indicates incorrect data length";
        case ModbusError::WriteNotConfirmed: return "Err #9, Write did not confirm correct data";
        case ModbusError::InvalidParameter: return "Err #10, Function Called with Invalid Input Parameter";
    }
    return "";
}

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

ModbusError readRegisters(Bus& bus, int address, int start, int count, std::int32_t* out) {
    if (address < 0 || address > 255 || count < 1 || count > kMaxReadCount || start < 0 || start + count > 65535) {
        return ModbusError::InvalidParameter;
    }
    std::array<std::uint8_t, 8> frame{};
    std::uint8_t* request = frame.data();
    request[0] = static_cast<std::uint8_t>(address);
    request[1] = kReadHoldingRegisters;
    request[2] = static_cast<std::uint8_t>(start >> 8);
    request[3] = static_cast<std::uint8_t>(start & 0xFF);
    request[4] = static_cast<std::uint8_t>(count >> 8);
    request[5] = static_cast<std::uint8_t>(count & 0xFF);
    appendCrc(request, 6);

    const int maxResponse = 2 * count + kReadSlack;
    std::array<std::uint8_t, 2 * kMaxReadCount + kReadSlack> answer{};
    std::uint8_t* response = answer.data();
    int n = 0;
    const ReadOutcome outcome = exchange(bus, request, 8, response, maxResponse, n);
    if (outcome != ReadOutcome::Data) return static_cast<ModbusError>(outcome);

    if (n != 2 * count + 5) return ModbusError::WrongByteCount;
    if (crc16(response, n) != 0) return ModbusError::CrcError;
    if (response[0] != address) return ModbusError::WrongAddress;
    if (response[1] == (kReadHoldingRegisters | kExceptionBit)) return ModbusError::ExceptionResponse;
    if (response[1] != kReadHoldingRegisters) return ModbusError::WrongFunction;
    if (response[2] != ((2 * count) & 0xFF)) return ModbusError::WrongDataLength;
    for (int i = 0; i < count; ++i) out[i] = response[3 + 2 * i] * 256 + response[4 + 2 * i];
    return ModbusError::Ok;
}

ModbusError writeRegister(Bus& bus, int address, int reg, int value) {
    if (address < 0 || address > 255 || reg < 0 || reg > kMaxWriteRegister || value < 0 || value > 65535) {
        return ModbusError::InvalidParameter;
    }
    std::array<std::uint8_t, 8> frame{};
    std::uint8_t* request = frame.data();
    request[0] = static_cast<std::uint8_t>(address);
    request[1] = kWriteSingleRegister;
    request[2] = static_cast<std::uint8_t>(reg >> 8);
    request[3] = static_cast<std::uint8_t>(reg & 0xFF);
    request[4] = static_cast<std::uint8_t>(value >> 8);
    request[5] = static_cast<std::uint8_t>(value & 0xFF);
    appendCrc(request, 6);

    std::array<std::uint8_t, kWriteReceiveSize> answer{};
    std::uint8_t* response = answer.data();
    int n = 0;
    const ReadOutcome outcome = exchange(bus, request, 8, response, kWriteReceiveSize, n);
    if (outcome != ReadOutcome::Data) return static_cast<ModbusError>(outcome);

    if (n != 8) return ModbusError::WrongByteCount;
    if (crc16(response, n) != 0) return ModbusError::CrcError;
    if (response[0] != address) return ModbusError::WrongAddress;
    if (response[1] == (kWriteSingleRegister | kExceptionBit)) return ModbusError::ExceptionResponse;
    if (response[1] != kWriteSingleRegister) return ModbusError::WrongFunction;
    for (int i = 2; i < 6; ++i) {
        if (response[i] != request[i]) return ModbusError::WriteNotConfirmed;
    }
    return ModbusError::Ok;
}

ModbusError reportSlaveId(Bus& bus, int address, int& slaveId, std::string& deviceText) {
    if (address < 0 || address > 255) return ModbusError::InvalidParameter;
    std::array<std::uint8_t, 4> frame{};
    std::uint8_t* request = frame.data();
    request[0] = static_cast<std::uint8_t>(address);
    request[1] = kReportSlaveId;
    appendCrc(request, 2);

    std::array<std::uint8_t, kSlaveIdReceiveSize> answer{};
    std::uint8_t* response = answer.data();
    int n = 0;
    const ReadOutcome outcome = exchange(bus, request, 4, response, kSlaveIdReceiveSize, n);
    if (outcome != ReadOutcome::Data) return static_cast<ModbusError>(outcome);

    const std::uint16_t crc = crc16(response, n);
    if (n < kMinSlaveIdAnswer) return ModbusError::WrongByteCount;
    if (crc != 0) return ModbusError::CrcError;
    if (response[0] != address) return ModbusError::WrongAddress;
    if (response[1] == (kReportSlaveId | kExceptionBit)) return ModbusError::ExceptionResponse;
    if (response[1] != kReportSlaveId) return ModbusError::WrongFunction;
    if (response[2] != n - 5) return ModbusError::WrongDataLength;
    slaveId = response[3];
    // Byte 4 is the run indicator; the text runs to the CRC. A zero byte inside it ends it.
    deviceText.assign(reinterpret_cast<const char*>(response + 5), static_cast<std::size_t>(n - 7));
    if (const auto zero = deviceText.find('\0'); zero != std::string::npos) deviceText.resize(zero);
    return ModbusError::Ok;
}

}  // namespace quorna
