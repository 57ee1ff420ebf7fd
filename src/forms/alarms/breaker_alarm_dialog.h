#pragma once
// The "Alarm Setup" window of a Branch meter: the "Alarm" and "Warn" thresholds of its 42 breakers,
// written back on "OK" where they changed, and four global settings, each sent at once by its "SET".

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "forms/alarms/breaker_pairs.h"

namespace quorna {

// Thresholds in percent of the breaker rating; k = 1..42.
inline constexpr int kAlarmThresholdRegister = kBranchAlarmLimitRegister;  // 135 + k - 1
inline constexpr int kWarningThresholdRegister = kWarningLimitRegister;    // 93 + k - 1
inline constexpr int kGlobalWarningPercentRegister = 268;
inline constexpr int kGlobalAlarmPercentRegister = 269;
inline constexpr int kWarningHoldoffRegister = 270;
inline constexpr int kAlarmHoldoffRegister = 271;

inline constexpr std::int32_t kMaxPercent = 100;

class BreakerAlarmDialog {
public:
    // The fields in the order of the take.
    enum Field : int {
        kFirstAlarmField = 0,                              // "Alarm" of breaker k: k - 1
        kFirstWarnField = kBreakerCount,                   // "Warn" of breaker k: 42 + k - 1
        kWarningPercentField = BreakerPairs::kFieldCount,  // "Warning" "% Rated"
        kAlarmPercentField,                                // "Alarm" "% Rated"
        kMeterNameField,                                   // after "Breakers - "
        kAlarmHoldoffField,                                // "Alarm" "Secs"
        kWarningHoldoffField,                              // "Warning" "Secs"
        kFieldCount
    };
    using Texts = std::array<std::string, kFieldCount>;
    using LimitSnapshot = BreakerPairs::LimitSnapshot;

    // The four "SET" buttons.
    enum class GlobalSetting { WarningPercent, AlarmPercent, WarningHoldoff, AlarmHoldoff };

    BreakerAlarmDialog(Meters& meters, AlarmWindowMarks& marks);

    // Binds the window to the meter at address for as long as it is open, copies the first meter
    // name and reads both threshold blocks. The global fields keep their values from earlier openings.
    void open(int address);
    // The texts of every field, as the window shows them.
    [[nodiscard]] Texts showFields();
    // Takes every field from the window's texts. On the first failing field: shows its message,
    // keeps that field's old value, and returns it (the window gives that edit the focus).
    [[nodiscard]] std::optional<int> takeFields(const Texts& texts);
    // Writes one global setting as last taken, then reads both blocks again (edits not yet sent
    // are dropped). Sends nothing while a field holds a value that failed: shows its message again
    // and returns it.
    [[nodiscard]] std::optional<int> set(GlobalSetting setting);
    // Writes the thresholds that differ from the snapshot, "Alarm" block first, and closes.
    // While a field holds a value that failed, nothing is sent and the window stays open.
    [[nodiscard]] std::optional<int> ok();
    // Closes without writing.
    void cancel();

    int address() const { return m_address; }
    std::int32_t alarmLimit(int breaker) const { return m_pairs.alarm(breaker); }
    std::int32_t warnLimit(int breaker) const { return m_pairs.warn(breaker); }
    const LimitSnapshot& snapshot() const { return m_pairs.snapshot(); }
    std::int32_t warningPercent() const { return m_warningPercent; }
    std::int32_t alarmPercent() const { return m_alarmPercent; }
    std::int32_t alarmHoldoff() const { return m_alarmHoldoff; }
    std::int32_t warningHoldoff() const { return m_warningHoldoff; }
    const std::string& meterName() const { return m_meterName; }

private:
    Meters& m_meters;
    AlarmWindowMarks& m_marks;
    void refresh();

    int m_address = -1;
    BreakerPairs m_pairs;
    std::int32_t m_warningPercent = 70;
    std::int32_t m_alarmPercent = 80;
    std::int32_t m_alarmHoldoff = 10;
    std::int32_t m_warningHoldoff = 0;
    std::string m_meterName;
    Texts m_shown;
    std::optional<FieldFailure> m_failure;  // the field that last failed its take
};

}  // namespace quorna
