#pragma once
// One exchange on the bus whose answer is waited for in slices: the request is traced, stale
// input purged and the request sent at once, as in every transaction; then each wait looks for
// the answer at most a slice long and returns, until the answer has come or the read's time-outs
// have run out. The whole wait ends when the one read of a blocking transaction would have ended:
// the read's total time (800 ms plus 1 ms per byte asked) counted from the send, or the interval
// of silence once the answer has begun. Once the first bytes are in, the rest of the frame is read
// in the same wait (an answer frame takes less than 120 ms at 9600 baud).

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

#include "bus/serial_link.h"

namespace quorna {

class Bus;

class SlicedExchange {
public:
    // Room for the largest answer a sliced exchange may ask for (a read of 509 registers in
    // Modbus TCP framing), and for a driver that hands over a little more than asked.
    static constexpr int kMaxResponse = 1056;

    // Traces the request, purges stale input and sends the request to the meter at address (with
    // the Modbus TCP transaction id id); at most maxResponse bytes (no more than kMaxResponse) of
    // answer are then awaited.
    void begin(Bus& bus, const std::uint8_t* request, int length, int maxResponse, int address, std::uint16_t id);
    // Waits at most `slice` for the answer. Nothing while it is still to come; then how its read
    // ended, with the answer in response() and received(), and traced. Nothing was begun: Nothing.
    [[nodiscard]] std::optional<ReadOutcome> await(Bus& bus, std::chrono::milliseconds slice);
    // Waits for the awaited answer to its end, so that another transaction may go out; the outcome
    // is kept for the next await.
    void settle(Bus& bus);
    // Gives up the awaited answer: the trace shows nothing received, and no await reports it. The
    // next transaction still waits for it, at most as long as its read would have lasted, and throws
    // it away, so that a late answer is never taken for the answer of another request.
    void abandon(Bus& bus);

    // An answer is awaited (or given up but not yet over), or one has come that no await has taken yet.
    [[nodiscard]] bool busy() const { return m_state != State::Idle; }
    [[nodiscard]] const std::uint8_t* response() const { return m_response.data(); }
    [[nodiscard]] int received() const { return m_received; }
    [[nodiscard]] int address() const { return m_address; }
    [[nodiscard]] std::uint16_t transactionId() const { return m_id; }

private:
    enum class State { Idle, Waiting, Finished, Abandoned };
    using Clock = std::chrono::steady_clock;

    // Looks for the answer at most `slice` long; true once the exchange has finished.
    bool waitSlice(Bus& bus, std::chrono::milliseconds slice);
    void finish(Bus& bus, ReadOutcome outcome, int received);

    State m_state = State::Idle;
    int m_maxResponse = 0;
    int m_address = 0;
    std::uint16_t m_id = 0;
    Clock::time_point m_deadline{};
    ReadOutcome m_outcome = ReadOutcome::Nothing;
    int m_received = 0;
    std::array<std::uint8_t, kMaxResponse + 16> m_response{};
};

}  // namespace quorna
