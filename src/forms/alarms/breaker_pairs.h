#pragma once
// The 84 per-breaker values of the alarm and delay windows, an "Alarm" and a "Warn" value for each
// of the 42 breakers, with the values last read from the meter that decide what "OK" writes.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "meters/register_map.h"

namespace quorna {

// Set by an opener, cleared by the window when it closes. The breaker alarm window and the global
// limits window share the alarm-window mark: only one of them is open at a time.
struct AlarmWindowMarks {
    bool alarmWindowOpen = false;
    bool delayWindowOpen = false;
};

// A field that failed its take: its index in the window's take order, and the message shown.
struct FieldFailure {
    int field = 0;
    std::string message;
};

// Shows a pending failure's message again (untitled box) and gives its field, so that the window
// puts the focus back there; nothing when no field failed.
[[nodiscard]] std::optional<int> showFailure(Operator& op, const std::optional<FieldFailure>& failure);

class BreakerPairs {
public:
    static constexpr int kFieldCount = 2 * kBreakerCount;  // 0..41 "Alarm", 42..83 "Warn"

    // The values as last read from the meter; a failed read left -1 in its block.
    struct LimitSnapshot {
        BreakerBlock alarm{};
        BreakerBlock warn{};
    };

    // alarmRegister and warnRegister hold breaker 1's values; every value lies in 0..maxValue.
    BreakerPairs(int alarmRegister, int warnRegister, std::int32_t maxValue);

    // Replaces every value and the snapshot with what the meter answered.
    void load(const BreakerBlock& alarm, const BreakerBlock& warn);

    std::int32_t alarm(int breaker) const { return m_alarm.at(static_cast<std::size_t>(breaker - 1)); }
    std::int32_t warn(int breaker) const { return m_warn.at(static_cast<std::size_t>(breaker - 1)); }
    const LimitSnapshot& snapshot() const { return m_snapshot; }

    // The texts of the 84 edits, "Alarm" of breakers 1..42 then "Warn"; they become the shown texts.
    void show(std::string* texts);
    // Takes the 84 texts in the same order. An edit that still shows the text the window put there
    // keeps its value unchecked (a -1 from a silent meter is never sent, since it equals its
    // snapshot). The first changed text that is not an integer in 0..maxValue stops the take.
    [[nodiscard]] std::optional<FieldFailure> take(const std::string* texts);

    // One single-register write per value that differs from the snapshot: the "Alarm" block in
    // ascending breaker order, then the "Warn" block. Write results are not looked at.
    void writeChanged(Bus& bus, int address) const;

private:
    int m_alarmRegister;
    int m_warnRegister;
    std::int32_t m_maxValue;
    BreakerBlock m_alarm{};
    BreakerBlock m_warn{};
    LimitSnapshot m_snapshot;
    std::array<std::string, kFieldCount> m_shown;
};

}  // namespace quorna
