#pragma once
// The "Alarm Delay Setup" window: the alarm and warning delays of the 42 breakers of any meter,
// written back on "OK" where they changed.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "forms/alarms/breaker_pairs.h"

namespace quorna {

// Delays of breaker k = 1..42, 0 to 65535.
inline constexpr int kAlarmDelayFirstRegister = kAlarmDelayRegister;      // 219 + k - 1
inline constexpr int kWarningDelayFirstRegister = kWarningDelayRegister;  // 177 + k - 1
inline constexpr std::int32_t kMaxDelay = 65535;

class AlarmDelayDialog {
public:
    enum Field : int {
        kFirstAlarmField = 0,             // "Alarm" of breaker k: k - 1
        kFirstWarnField = kBreakerCount,  // "Warn" of breaker k: 42 + k - 1
        kMeterNameField = BreakerPairs::kFieldCount,
        kFieldCount
    };
    using Texts = std::array<std::string, kFieldCount>;
    using LimitSnapshot = BreakerPairs::LimitSnapshot;

    AlarmDelayDialog(Meters& meters, AlarmWindowMarks& marks);

    // Binds the window to the meter at address for as long as it is open, copies the first
    // meter name and reads both delay blocks.
    void open(int address);
    [[nodiscard]] Texts showFields();
    // As in the alarm setup window: the first failing field shows its message and is returned.
    [[nodiscard]] std::optional<int> takeFields(const Texts& texts);
    // Writes the delays that differ from the snapshot, alarm delays first, and closes. While a
    // field holds a value that failed, nothing is sent and the window stays open.
    [[nodiscard]] std::optional<int> ok();
    void cancel();

    int address() const { return m_address; }
    std::int32_t alarmDelay(int breaker) const { return m_pairs.alarm(breaker); }
    std::int32_t warnDelay(int breaker) const { return m_pairs.warn(breaker); }
    const LimitSnapshot& snapshot() const { return m_pairs.snapshot(); }
    const std::string& meterName() const { return m_meterName; }

private:
    Meters& m_meters;
    AlarmWindowMarks& m_marks;
    int m_address = -1;
    BreakerPairs m_pairs;
    std::string m_meterName;
    std::string m_shownName;
    std::optional<FieldFailure> m_failure;
};

}  // namespace quorna
