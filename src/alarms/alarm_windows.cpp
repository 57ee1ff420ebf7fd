#include "alarms/alarm_windows.h"

#include "app/operator.h"
#include "meters/meter_model.h"
#include "meters/meter_state.h"

namespace quorna {
namespace {

BreakerAlarmDialog g_breakerAlarms;
AlarmDelayDialog g_alarmDelays;
GlobalLimitsDialog g_globalLimits;
AlarmWindowMarks g_marks;

bool validMeterSelected() {
    if (selectedMeter().address > 0) return true;
    ui().messageBox(kNoValidMeterForAlarms, "");
    return false;
}

}  // namespace

AlarmWindowMarks& alarmWindowMarks() { return g_marks; }
BreakerAlarmDialog& breakerAlarmDialog() { return g_breakerAlarms; }
AlarmDelayDialog& alarmDelayDialog() { return g_alarmDelays; }
GlobalLimitsDialog& globalLimitsDialog() { return g_globalLimits; }

AlarmSetupWindow openAlarmSetup() {
    if (!validMeterSelected()) return AlarmSetupWindow::None;
    if (g_marks.alarmWindowOpen) return AlarmSetupWindow::None;
    const int address = selectedMeter().address;
    g_marks.alarmWindowOpen = true;
    if (directoryModel(address) == kBranchMeter) {
        g_breakerAlarms.open(address);
        return AlarmSetupWindow::BreakerAlarms;
    }
    g_globalLimits.open(address);
    return AlarmSetupWindow::GlobalLimits;
}

bool openAlarmDelays() {
    if (!validMeterSelected()) return false;
    if (g_marks.delayWindowOpen) return false;
    g_marks.delayWindowOpen = true;
    g_alarmDelays.open(selectedMeter().address);
    return true;
}

void resetAlarmState() {
    g_breakerAlarms = BreakerAlarmDialog{};
    g_alarmDelays = AlarmDelayDialog{};
    g_globalLimits = GlobalLimitsDialog{};
    g_marks = AlarmWindowMarks{};
}

}  // namespace quorna
