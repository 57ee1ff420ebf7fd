#include "bus/sliced_exchange.h"

#include <algorithm>

#include "bus/bus.h"

namespace quorna {
namespace {

using Millis = std::chrono::milliseconds;

// Whole milliseconds left until the deadline, rounded up; none once it has passed.
Millis left(std::chrono::steady_clock::time_point deadline) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return Millis(0);
    return std::chrono::ceil<Millis>(deadline - now);
}

}  // namespace

void SlicedExchange::begin(Bus& bus, const std::uint8_t* request, int length, int maxResponse, int address,
                           std::uint16_t id) {
    settle(bus);
    m_state = State::Waiting;
    m_address = address;
    m_id = id;
    m_maxResponse = std::clamp(maxResponse, 1, kMaxResponse);
    m_received = 0;
    bus.traceRequest(request, length);
    purgeInput(bus);
    writeBytes(bus.link(), request, length);
    m_deadline = Clock::now() + Millis(kNormalTimeouts.readTotalConstant +
                                       kNormalTimeouts.readTotalMultiplier * m_maxResponse);
}

std::optional<ReadOutcome> SlicedExchange::await(Bus& bus, std::chrono::milliseconds slice) {
    if (m_state == State::Idle || m_state == State::Abandoned) return ReadOutcome::Nothing;
    if (m_state == State::Waiting && !waitSlice(bus, slice)) return std::nullopt;
    m_state = State::Idle;
    return m_outcome;
}

void SlicedExchange::settle(Bus& bus) {
    while (m_state == State::Waiting || m_state == State::Abandoned) (void)waitSlice(bus, left(m_deadline) + Millis(1));
}

void SlicedExchange::abandon(Bus& bus) {
    if (m_state == State::Waiting) {
        bus.traceAnswer(m_response.data(), 0);
        m_state = State::Abandoned;
    } else if (m_state == State::Finished) {
        m_state = State::Idle;
    }
    m_received = 0;
}

bool SlicedExchange::waitSlice(Bus& bus, std::chrono::milliseconds slice) {
    SerialLink& link = bus.link();
    if (!link.handle) {
        finish(bus, ReadOutcome::Nothing, 0);
        return true;
    }
    SerialPort& port = *link.handle;
    const Millis remaining = left(m_deadline);
    if (remaining > Millis(0) && !port.waitReadable(std::max(Millis(1), std::min(slice, remaining))) &&
        Clock::now() < m_deadline) {
        return false;
    }
    // The answer has begun (or the time is up): the read takes the rest of it, ended by the
    // interval of silence or by what is left of the total time, as the one read would have been.
    CommTimeouts rest = kNormalTimeouts;
    rest.readTotalMultiplier = 0;
    rest.readTotalConstant = static_cast<int>(left(m_deadline).count());
    port.setTimeouts(rest);
    const int n = port.read(m_response.data(), static_cast<std::size_t>(m_maxResponse));
    port.setTimeouts(kNormalTimeouts);
    if (n < 0) {
        finish(bus, ReadOutcome::Nothing, 0);
    } else if (n > m_maxResponse) {
        finish(bus, ReadOutcome::Overflow, n);
    } else {
        finish(bus, n == 0 ? ReadOutcome::Nothing : ReadOutcome::Data, n);
    }
    return true;
}

void SlicedExchange::finish(Bus& bus, ReadOutcome outcome, int received) {
    if (m_state == State::Abandoned) {
        m_state = State::Idle;
        m_received = 0;
        return;
    }
    m_state = State::Finished;
    m_outcome = outcome;
    m_received = std::min(received, m_maxResponse);
    bus.traceAnswer(m_response.data(), m_received);
}

}  // namespace quorna
