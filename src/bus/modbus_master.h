#pragma once
// Single Modbus transactions on the bus: read holding registers (3), write single register (6)
// and report slave ID (17). One attempt each, no retry; the callers count failures. Each
// transaction is traced in the bus's ring, in the framing of the port (RTU or Modbus TCP), and
// keeps its frames to itself.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bus/adu.h"
#include "bus/bus.h"

namespace quorna {

inline constexpr int kMaxReadCount = 509;
inline constexpr int kMaxWriteRegister = 1023;
// The device text of a report-slave-ID answer fits this many bytes, ending zero included.
inline constexpr int kDeviceTextCapacity = 94;

// On success out[i] holds register start + i (0 to 65535); on failure out is left as it was.
[[nodiscard]] ModbusError readRegisters(Bus& bus, int address, int start, int count, std::int32_t* out);
[[nodiscard]] ModbusError writeRegister(Bus& bus, int address, int reg, int value);
// On success: the slave ID and the device text (zero-ended, at most kDeviceTextCapacity bytes with
// the zero). On failure nothing changes.
[[nodiscard]] ModbusError reportSlaveId(Bus& bus, int address, int& slaveId, std::string& deviceText);

// reportSlaveId in two halves, so that a silent address does not hold the caller for the whole
// read time-out at once. beginReportSlaveId lets the gateway forward first, as every transaction
// of the program does, then sends the request (Ok), or sends nothing (InvalidParameter).
// awaitReportSlaveId then waits at most `slice` for the answer: nothing while it is still to
// come, then what reportSlaveId would have returned. While the answer is awaited no other
// transaction goes out: one begun meanwhile waits for this answer first, and the outcome is kept
// for the next awaitReportSlaveId. abandonTransaction forgets an awaited answer (a scan cancelled);
// the next transaction purges it if it still comes.
[[nodiscard]] ModbusError beginReportSlaveId(Bus& bus, int address);
[[nodiscard]] std::optional<ModbusError> awaitReportSlaveId(Bus& bus, std::chrono::milliseconds slice, int& slaveId,
                                                            std::string& deviceText);
void abandonTransaction(Bus& bus);

// readRegisters in the same two halves: beginReadRegisters sends the request (Ok) or nothing
// (InvalidParameter); awaitReadRegisters waits at most `slice` for the answer to a read of count
// registers: nothing while it is still to come, then what readRegisters would have returned, with
// out filled on success. The same bytes go out and the same answers are taken as by readRegisters.
[[nodiscard]] ModbusError beginReadRegisters(Bus& bus, int address, int start, int count);
[[nodiscard]] std::optional<ModbusError> awaitReadRegisters(Bus& bus, std::chrono::milliseconds slice, int count,
                                                            std::int32_t* out);

// A request forwarded for a client of the logger's Modbus TCP gateway: the PDU as the client sent
// it (function 3, 6 or 17), to the meter at address, in the port's framing, with the time-outs and
// the trace of the program's own transactions. It does not run betweenTransactions.
enum class ForwardResult {
    Answered,  // answer holds the meter's answer PDU, an exception answer of the meter's included
    NoAnswer,  // silence, or an answer that is not one (a broken frame, another address or function)
    PortLost,  // the port is closed or its device has gone away
};
ForwardResult forwardRequest(Bus& bus, int address, const std::vector<std::uint8_t>& pdu,
                             std::vector<std::uint8_t>& answer);

}  // namespace quorna
