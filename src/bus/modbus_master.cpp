#include "bus/modbus_master.h"

#include <array>
#include <chrono>
#include <optional>

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

// Room for the largest request: the MBAP header and a five-byte PDU.
constexpr int kRequestCapacity = 12;
// The receive sizes above are those of RTU frames; another framing adds its own overhead.
constexpr int kRtuOverhead = 3;

int receiveSize(const AduFormat& format, int rtuSize) { return rtuSize + format.overhead() - kRtuOverhead; }

// The common part of every transaction: trace the request, purge, send, read, trace the answer.
// An answer awaited in slices is waited for to its end first: nothing goes out in the middle of it.
ReadOutcome exchange(Bus& bus, const std::uint8_t* request, int requestLength, std::uint8_t* response,
                     int maxResponse, int& received) {
    bus.settlePendingExchange();
    bus.traceRequest(request, requestLength);
    purgeInput(bus);
    writeBytes(bus.link(), request, requestLength);
    const ReadOutcome outcome = readResponse(bus.link(), response, maxResponse, received);
    if (received > maxResponse) received = maxResponse;
    bus.traceAnswer(response, received);
    return outcome;
}

// The program's own transactions let the gateway forward one waiting request first.
void ownTransactionStarts(Bus& bus) {
    bus.settlePendingExchange();
    bus.runBetweenTransactions();
}

bool portUsable(const SerialLink& link) { return link.portOpen && link.handle && !link.handle->lost(); }

bool readParametersValid(int address, int start, int count) {
    return address >= 0 && address <= 255 && count >= 1 && count <= kMaxReadCount && start >= 0 && start + count <= 65535;
}

// The request of a read, framed for the port, with the next transaction id.
struct ReadRequest {
    std::array<std::uint8_t, kRequestCapacity> frame{};
    int length = 0;
    std::uint16_t id = 0;
    int maxResponse = 0;
};

ReadRequest readRequest(Bus& bus, int address, int start, int count) {
    const AduFormat format(bus.link().framing);
    ReadRequest r;
    r.id = ++bus.link().transactionId;
    std::uint8_t* pdu = r.frame.data() + format.headerLength();
    pdu[0] = kReadHoldingRegisters;
    pdu[1] = static_cast<std::uint8_t>(start >> 8);
    pdu[2] = static_cast<std::uint8_t>(start & 0xFF);
    pdu[3] = static_cast<std::uint8_t>(count >> 8);
    pdu[4] = static_cast<std::uint8_t>(count & 0xFF);
    r.length = format.wrap(r.frame.data(), address, 5, r.id);
    r.maxResponse = receiveSize(format, 2 * count + kReadSlack);
    return r;
}

// The registers an answer of n bytes carries, checked against the request it answers.
ModbusError decodeRead(const AduFormat& format, const std::uint8_t* response, int n, std::uint16_t id, int address,
                       int count, std::int32_t* out) {
    const std::uint8_t* reply = response + format.headerLength();
    if (n != 2 * count + 2 + format.overhead()) return ModbusError::WrongByteCount;
    if (!format.intact(response, n, id)) return ModbusError::CrcError;
    if (format.address(response) != address) return ModbusError::WrongAddress;
    if (reply[0] == (kReadHoldingRegisters | kExceptionBit)) return ModbusError::ExceptionResponse;
    if (reply[0] != kReadHoldingRegisters) return ModbusError::WrongFunction;
    if (reply[1] != ((2 * count) & 0xFF)) return ModbusError::WrongDataLength;
    for (int i = 0; i < count; ++i) out[i] = reply[2 + 2 * i] * 256 + reply[3 + 2 * i];
    return ModbusError::Ok;
}

}  // namespace

namespace {

ModbusError readRegistersOnce(Bus& bus, int address, int start, int count, std::int32_t* out);
ModbusError writeRegisterOnce(Bus& bus, int address, int reg, int value);
std::optional<ModbusError> awaitSlaveIdOnce(Bus& bus, std::chrono::milliseconds slice, int& slaveId,
                                            std::string& deviceText);

ModbusError counted(Bus& bus, ModbusError code) {
    bus.countOutcome(code);
    return code;
}

}  // namespace

ModbusError readRegisters(Bus& bus, int address, int start, int count, std::int32_t* out) {
    return counted(bus, readRegistersOnce(bus, address, start, count, out));
}

ModbusError writeRegister(Bus& bus, int address, int reg, int value) {
    return counted(bus, writeRegisterOnce(bus, address, reg, value));
}

ModbusError reportSlaveId(Bus& bus, int address, int& slaveId, std::string& deviceText) {
    const ModbusError begun = beginReportSlaveId(bus, address);
    if (begun != ModbusError::Ok) return begun;
    std::optional<ModbusError> result;
    while (!(result = awaitReportSlaveId(bus, std::chrono::hours(1), slaveId, deviceText))) {
    }
    return *result;
}

ModbusError beginReportSlaveId(Bus& bus, int address) {
    if (address < 0 || address > 255) return counted(bus, ModbusError::InvalidParameter);
    ownTransactionStarts(bus);
    const AduFormat format(bus.link().framing);
    const std::uint16_t id = ++bus.link().transactionId;
    std::array<std::uint8_t, kRequestCapacity> frame{};
    std::uint8_t* request = frame.data();
    request[format.headerLength()] = kReportSlaveId;
    const int requestLength = format.wrap(request, address, 1, id);
    bus.beginSlicedExchange(request, requestLength, receiveSize(format, kSlaveIdReceiveSize), address, id);
    return ModbusError::Ok;
}

std::optional<ModbusError> awaitReportSlaveId(Bus& bus, std::chrono::milliseconds slice, int& slaveId,
                                              std::string& deviceText) {
    const std::optional<ModbusError> result = awaitSlaveIdOnce(bus, slice, slaveId, deviceText);
    if (result) (void)counted(bus, *result);
    return result;
}

void abandonTransaction(Bus& bus) { bus.abandonPendingExchange(); }

ModbusError beginReadRegisters(Bus& bus, int address, int start, int count) {
    if (!readParametersValid(address, start, count)) return counted(bus, ModbusError::InvalidParameter);
    ownTransactionStarts(bus);
    const ReadRequest request = readRequest(bus, address, start, count);
    bus.beginSlicedExchange(request.frame.data(), request.length, request.maxResponse, address, request.id);
    return ModbusError::Ok;
}

std::optional<ModbusError> awaitReadRegisters(Bus& bus, std::chrono::milliseconds slice, int count, std::int32_t* out) {
    const std::optional<ReadOutcome> outcome = bus.awaitAnswer(slice);
    if (!outcome) return std::nullopt;
    if (*outcome != ReadOutcome::Data) return counted(bus, static_cast<ModbusError>(*outcome));
    const SlicedExchange& pending = bus.pendingExchange();
    return counted(bus, decodeRead(AduFormat(bus.link().framing), pending.response(), pending.received(),
                                   pending.transactionId(), pending.address(), count, out));
}

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

namespace {

ModbusError readRegistersOnce(Bus& bus, int address, int start, int count, std::int32_t* out) {
    if (!readParametersValid(address, start, count)) return ModbusError::InvalidParameter;
    ownTransactionStarts(bus);
    ReadRequest request = readRequest(bus, address, start, count);
    std::array<std::uint8_t, 2 * kMaxReadCount + kReadSlack + kRequestCapacity> answer{};
    int n = 0;
    const ReadOutcome outcome =
        exchange(bus, request.frame.data(), request.length, answer.data(), request.maxResponse, n);
    if (outcome != ReadOutcome::Data) return static_cast<ModbusError>(outcome);
    return decodeRead(AduFormat(bus.link().framing), answer.data(), n, request.id, address, count, out);
}

ModbusError writeRegisterOnce(Bus& bus, int address, int reg, int value) {
    if (address < 0 || address > 255 || reg < 0 || reg > kMaxWriteRegister || value < 0 || value > 65535) {
        return ModbusError::InvalidParameter;
    }
    ownTransactionStarts(bus);
    const AduFormat format(bus.link().framing);
    const std::uint16_t id = ++bus.link().transactionId;
    std::array<std::uint8_t, kRequestCapacity> frame{};
    std::uint8_t* request = frame.data();
    std::uint8_t* pdu = request + format.headerLength();
    pdu[0] = kWriteSingleRegister;
    pdu[1] = static_cast<std::uint8_t>(reg >> 8);
    pdu[2] = static_cast<std::uint8_t>(reg & 0xFF);
    pdu[3] = static_cast<std::uint8_t>(value >> 8);
    pdu[4] = static_cast<std::uint8_t>(value & 0xFF);
    const int requestLength = format.wrap(request, address, 5, id);

    const int maxResponse = receiveSize(format, kWriteReceiveSize);
    std::array<std::uint8_t, kWriteReceiveSize + kRequestCapacity> answer{};
    std::uint8_t* response = answer.data();
    int n = 0;
    const ReadOutcome outcome = exchange(bus, request, requestLength, response, maxResponse, n);
    if (outcome != ReadOutcome::Data) return static_cast<ModbusError>(outcome);

    const std::uint8_t* reply = response + format.headerLength();
    if (n != 5 + format.overhead()) return ModbusError::WrongByteCount;
    if (!format.intact(response, n, id)) return ModbusError::CrcError;
    if (format.address(response) != address) return ModbusError::WrongAddress;
    if (reply[0] == (kWriteSingleRegister | kExceptionBit)) return ModbusError::ExceptionResponse;
    if (reply[0] != kWriteSingleRegister) return ModbusError::WrongFunction;
    for (int i = 1; i < 5; ++i) {
        if (reply[i] != pdu[i]) return ModbusError::WriteNotConfirmed;
    }
    return ModbusError::Ok;
}

// Function, byte count, slave ID and run indicator come before the device text.
ModbusError decodeSlaveId(const Bus& bus, int& slaveId, std::string& deviceText) {
    const SlicedExchange& pending = bus.pendingExchange();
    const AduFormat format(bus.link().framing);
    const std::uint8_t* response = pending.response();
    const int n = pending.received();
    const std::uint8_t* reply = response + format.headerLength();
    const bool intact = format.intact(response, n, pending.transactionId());
    if (n < kMinSlaveIdAnswer - kRtuOverhead + format.overhead()) return ModbusError::WrongByteCount;
    if (!intact) return ModbusError::CrcError;
    if (format.address(response) != pending.address()) return ModbusError::WrongAddress;
    if (reply[0] == (kReportSlaveId | kExceptionBit)) return ModbusError::ExceptionResponse;
    if (reply[0] != kReportSlaveId) return ModbusError::WrongFunction;
    const int dataLength = n - format.overhead() - 2;
    if (reply[1] != dataLength) return ModbusError::WrongDataLength;
    slaveId = reply[2];
    // Byte 3 of the PDU is the run indicator; the text runs to the end of the data. A zero byte
    // inside it ends it.
    deviceText.assign(reinterpret_cast<const char*>(reply + 4), static_cast<std::size_t>(dataLength - 2));
    if (const auto zero = deviceText.find('\0'); zero != std::string::npos) deviceText.resize(zero);
    return ModbusError::Ok;
}

std::optional<ModbusError> awaitSlaveIdOnce(Bus& bus, std::chrono::milliseconds slice, int& slaveId,
                                            std::string& deviceText) {
    const std::optional<ReadOutcome> outcome = bus.awaitAnswer(slice);
    if (!outcome) return std::nullopt;
    if (*outcome != ReadOutcome::Data) return static_cast<ModbusError>(*outcome);
    return decodeSlaveId(bus, slaveId, deviceText);
}

}  // namespace

ForwardResult forwardRequest(Bus& bus, int address, const std::vector<std::uint8_t>& pdu,
                             std::vector<std::uint8_t>& answer) {
    constexpr int kMaxPdu = 253;
    if (pdu.empty() || pdu.size() > static_cast<std::size_t>(kMaxPdu) || address < 0 || address > 255) {
        return ForwardResult::NoAnswer;
    }
    bus.settlePendingExchange();  // nothing goes out in the middle of an awaited answer
    if (!portUsable(bus.link())) {
        // A lost device is tried again here as before any transaction, at most at its pace.
        purgeInput(bus);
        if (!portUsable(bus.link())) return ForwardResult::PortLost;
    }
    const AduFormat format(bus.link().framing);
    const std::uint16_t id = ++bus.link().transactionId;
    std::array<std::uint8_t, kMaxPdu + kRequestCapacity> frame{};
    std::uint8_t* request = frame.data();
    std::copy(pdu.begin(), pdu.end(), request + format.headerLength());
    const int requestLength = format.wrap(request, address, static_cast<int>(pdu.size()), id);

    std::array<std::uint8_t, kMaxPdu + kRequestCapacity + 2> received{};
    std::uint8_t* response = received.data();
    const int maxResponse = kMaxPdu + format.overhead();
    int n = 0;
    const ReadOutcome outcome = exchange(bus, request, requestLength, response, maxResponse, n);
    if (!portUsable(bus.link())) return ForwardResult::PortLost;
    if (outcome != ReadOutcome::Data) return ForwardResult::NoAnswer;
    const int pduLength = n - format.overhead();
    if (pduLength < 2 || !format.intact(response, n, id) || format.address(response) != address) {
        return ForwardResult::NoAnswer;
    }
    const std::uint8_t* reply = response + format.headerLength();
    if ((reply[0] & ~kExceptionBit) != pdu[0]) return ForwardResult::NoAnswer;
    if ((reply[0] & kExceptionBit) != 0) {
        if (pduLength != 2) return ForwardResult::NoAnswer;
    } else if (pdu[0] == kWriteSingleRegister) {
        if (pduLength != 5) return ForwardResult::NoAnswer;
    } else if (reply[1] != pduLength - 2) {  // reads and slave IDs: the byte count covers the rest
        return ForwardResult::NoAnswer;
    }
    answer.assign(reply, reply + pduLength);
    return ForwardResult::Answered;
}

}  // namespace quorna
