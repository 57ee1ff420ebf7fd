#pragma once
// The alarm windows of the whole run: one object per window kind, the marks that keep at most one
// alarm setup window and one delay window open, and the Setpoints and Delays openers.

#include "alarms/alarm_delay_dialog.h"
#include "alarms/breaker_alarm_dialog.h"
#include "alarms/global_limits_dialog.h"

namespace quorna {

inline constexpr const char* kNoValidMeterForAlarms = "You must select a valid meter before configuring alarms!";

// Set by an opener, cleared by the window when it closes. The breaker alarm window and the global
// limits window share the alarm-window mark: only one of them is open at a time.
struct AlarmWindowMarks {
    bool alarmWindowOpen = false;
    bool delayWindowOpen = false;
};
AlarmWindowMarks& alarmWindowMarks();

// The objects live for the whole run, so the breaker window's global "% Rated" and "Secs" fields
// keep what the operator last entered; the per-meter fields are read afresh at each opening.
BreakerAlarmDialog& breakerAlarmDialog();
AlarmDelayDialog& alarmDelayDialog();
GlobalLimitsDialog& globalLimitsDialog();

enum class AlarmSetupWindow { None, BreakerAlarms, GlobalLimits };

// Setpoints: with no valid meter selected shows the guard message; with an alarm setup window
// already open does nothing. Otherwise marks it open and opens the breaker alarm object for a
// Branch meter (directory model 230) or the global limits object for any other, bound to the
// selected address. Returns which window the caller is to show.
AlarmSetupWindow openAlarmSetup();
// Delays: same guard; opens the delay object when no delay window is open. True when the caller
// is to show the window.
bool openAlarmDelays();

// Puts the marks and the three objects back to their state at program start.
void resetAlarmState();

}  // namespace quorna
