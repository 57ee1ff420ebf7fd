#pragma once
// One serial bus and everything that travels with it: the link to the port, how ports are opened,
// the protocol trace of the last exchanges and the read counters. A station owns one; every
// transaction takes it.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

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

class Bus {
public:
    explicit Bus(Operator& op) : m_op(op) {}
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // Who is told when a port cannot be opened, and who shows the trace.
    [[nodiscard]] Operator& op() const { return m_op; }

    // The link to the port.
    [[nodiscard]] SerialLink& link() { return m_link; }
    [[nodiscard]] const SerialLink& link() const { return m_link; }

    // How ports are opened by name; empty (the default): the system's serial ports and gateways.
    void setPortOpener(PortOpener opener) { m_opener = std::move(opener); }
    [[nodiscard]] const PortOpener& portOpener() const { return m_opener; }

    // The protocol trace: each exchange begins with its request and ends with the bytes that
    // came back; while the trace window is open and not frozen (traceLive) each end repaints it.
    [[nodiscard]] const TraceRing& trace() const { return m_trace; }
    void traceRequest(const std::uint8_t* request, int length) { m_trace.beginExchange(request, length); }
    void traceAnswer(const std::uint8_t* response, int length) {
        m_trace.endExchange(response, length);
        if (m_traceLive) m_op.repaintTrace();
    }
    [[nodiscard]] bool traceLive() const { return m_traceLive; }
    void setTraceLive(bool live) { m_traceLive = live; }

    // The read counters of the polling and logging cycles, and every transaction's result.
    [[nodiscard]] const BusStatistics& statistics() const { return m_statistics; }
    void countGoodRead() { ++m_statistics.goodReads; }
    void countBadRead(ModbusError code) {
        ++m_statistics.badReads;
        m_statistics.lastError = code;
    }
    void countOutcome(ModbusError code) {
        const auto index = static_cast<std::size_t>(code);
        if (index < m_statistics.outcomes.size()) ++m_statistics.outcomes[index];
    }

    // Runs before each of the program's own transactions (reads, writes, slave IDs): the logger's
    // Modbus TCP gateway forwards one waiting request of its clients there, so that they are
    // served during a long logging moment too. Empty in the window program.
    void setBetweenTransactions(std::function<void()> work) { m_betweenTransactions = std::move(work); }
    void runBetweenTransactions() {
        if (m_betweenTransactions) m_betweenTransactions();
    }

    // The exchange whose answer is awaited in slices (a scan's probe; see SlicedExchange). While
    // it is pending no other exchange goes out: each first settles it.
    void beginSlicedExchange(const std::uint8_t* request, int length, int maxResponse, int address, std::uint16_t id) {
        m_pending.begin(*this, request, length, maxResponse, address, id);
    }
    [[nodiscard]] std::optional<ReadOutcome> awaitAnswer(std::chrono::milliseconds slice) {
        return m_pending.await(*this, slice);
    }
    void settlePendingExchange() { m_pending.settle(*this); }
    void abandonPendingExchange() { m_pending.abandon(*this); }
    [[nodiscard]] bool exchangePending() const { return m_pending.busy(); }
    [[nodiscard]] const SlicedExchange& pendingExchange() const { return m_pending; }

private:
    Operator& m_op;
    SerialLink m_link;
    PortOpener m_opener;
    TraceRing m_trace;
    bool m_traceLive = false;
    BusStatistics m_statistics;
    std::function<void()> m_betweenTransactions;
    SlicedExchange m_pending;
};

}  // namespace quorna
