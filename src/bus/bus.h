#pragma once
// One serial bus and everything that travels with it: the link to the port, how ports are opened,
// the protocol trace of the last exchanges and the read counters. A station owns one; every
// transaction takes it.

#include <functional>
#include <array>
#include <cstdint>

#include "bus/modbus_error.h"
#include "bus/serial_link.h"
#include "bus/sliced_exchange.h"
#include "bus/trace_ring.h"
#include "core/operator.h"

namespace quorna {

// Good and bad reads of the polling and logging cycles, and the code of the last failure.
struct BusStatistics {
    int goodReads = 0;
    int badReads = 0;
    ModbusError lastError = ModbusError::Ok;
    // Every transaction of any caller, by its result (index: the code, 0 "Ok" to 10).
    std::array<std::uint64_t, 11> outcomes{};
};

struct Bus {
    explicit Bus(Operator& op) : op(op) {}
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    Operator& op;             // who is told when a port cannot be opened, and who shows the trace
    SerialLink link;
    PortOpener opener;        // empty: the POSIX serial ports
    TraceRing trace;
    bool traceLive = false;   // the trace window is open and not frozen: each exchange repaints it
    BusStatistics statistics;
    // Runs before each of the program's own transactions (reads, writes, slave IDs): the logger's
    // Modbus TCP gateway forwards one waiting request of its clients there, so that they are
    // served during a long logging moment too. Empty in the window program.
    std::function<void()> betweenTransactions;
    // The exchange whose answer is awaited in slices (a scan's probe); no other goes out meanwhile.
    SlicedExchange pending;
};

}  // namespace quorna
