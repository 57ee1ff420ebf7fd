#pragma once
// The alarm windows of a station: one object per window kind, the marks that keep at most one
// alarm setup window and one delay window open, and the Setpoints and Delays openers.

#include "forms/alarms/alarm_delay_dialog.h"
#include "forms/alarms/breaker_alarm_dialog.h"
#include "forms/alarms/global_limits_dialog.h"

namespace quorna {

inline constexpr const char* kNoValidMeterForAlarms = "You must select a valid meter before configuring alarms!";

enum class AlarmSetupWindow { None, BreakerAlarms, GlobalLimits };

// The objects live as long as the station, so the breaker window's global "% Rated" and "Secs"
// fields keep what the operator last entered; the per-meter fields are read afresh at each opening.
class AlarmWindows {
public:
    explicit AlarmWindows(Meters& meters)
        : breakerAlarms(meters, marks), alarmDelays(meters, marks), globalLimits(meters, marks), m_meters(meters) {}

    AlarmWindowMarks marks;
    BreakerAlarmDialog breakerAlarms;
    AlarmDelayDialog alarmDelays;
    GlobalLimitsDialog globalLimits;

    // Setpoints: with no valid meter selected shows the guard message; with an alarm setup window
    // already open does nothing. Otherwise marks it open and opens the breaker alarm object for a
    // Branch meter (directory model 230) or the global limits object for any other, bound to the
    // selected address. Returns which window the caller is to show.
    AlarmSetupWindow openAlarmSetup();
    // Delays: same guard; opens the delay object when no delay window is open. True when the caller
    // is to show the window.
    bool openAlarmDelays();

private:
    bool validMeterSelected();

    Meters& m_meters;
};

}  // namespace quorna
