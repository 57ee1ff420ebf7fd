#pragma once
// A serial port that answers from a script, for the answers a real meter cannot be made to give
// on demand: crafted frames with one byte changed, an overflowing read, a failing read.

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "bus/serial_link.h"

namespace quorna::test {

struct ScriptedPortState {
    std::vector<std::vector<std::uint8_t>> written;    // every frame sent, in order
    std::deque<std::vector<std::uint8_t>> answers;     // one per read with normal time-outs
    std::vector<std::uint8_t> staleInput;              // returned by the purge read, once
    int purgeReads = 0;
    int failNextRead = 0;                              // that many reads fail (-1)
    bool lost = false;
    Framing framing = Framing::Rtu;          // as a gateway's port reports it
    std::chrono::milliseconds reopenPause{};
};

class ScriptedPort final : public SerialPort {
public:
    explicit ScriptedPort(std::shared_ptr<ScriptedPortState> state) : m_state(std::move(state)) {}
    void applySettings(const LineSettings& settings) override { m_settings = settings; }
    void setTimeouts(const CommTimeouts& timeouts) override { m_timeouts = timeouts; }
    bool write(const std::uint8_t* data, std::size_t count) override {
        m_state->written.emplace_back(data, data + count);
        return true;
    }
    int read(std::uint8_t* buffer, std::size_t capacity) override {
        if (m_timeouts.readTotalConstant == kPurgeTimeouts.readTotalConstant &&
            m_timeouts.readInterval == kPurgeTimeouts.readInterval) {
            ++m_state->purgeReads;
            const std::size_t n = std::min(capacity, m_state->staleInput.size());
            std::copy_n(m_state->staleInput.begin(), n, buffer);
            m_state->staleInput.erase(m_state->staleInput.begin(), m_state->staleInput.begin() + static_cast<long>(n));
            return static_cast<int>(n);
        }
        if (m_state->failNextRead > 0) {
            --m_state->failNextRead;
            return -1;
        }
        if (m_state->answers.empty()) return 0;
        std::vector<std::uint8_t> answer = std::move(m_state->answers.front());
        m_state->answers.pop_front();
        // Like a driver handing over more than asked, so that the link can report the overflow.
        std::copy(answer.begin(), answer.end(), buffer);
        (void)capacity;
        return static_cast<int>(answer.size());
    }
    bool lost() const override { return m_state->lost; }
    Framing framing() const override { return m_state->framing; }
    std::chrono::milliseconds reopenPause() const override { return m_state->reopenPause; }
    const LineSettings& settings() const { return m_settings; }

private:
    std::shared_ptr<ScriptedPortState> m_state;
    LineSettings m_settings;
    CommTimeouts m_timeouts;
};

}  // namespace quorna::test
