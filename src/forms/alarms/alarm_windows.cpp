#include "forms/alarms/alarm_windows.h"

namespace quorna {

bool AlarmWindows::validMeterSelected() {
    if (m_meters.selected().address > 0) return true;
    m_meters.op().warning(kNoValidMeterForAlarms);
    return false;
}

AlarmSetupWindow AlarmWindows::openAlarmSetup() {
    if (!validMeterSelected()) return AlarmSetupWindow::None;
    if (marks.alarmWindowOpen) return AlarmSetupWindow::None;
    const int address = m_meters.selected().address;
    marks.alarmWindowOpen = true;
    if (directoryModel(m_meters.directory(), address) == kBranchMeter) {
        breakerAlarms.open(address);
        return AlarmSetupWindow::BreakerAlarms;
    }
    globalLimits.open(address);
    return AlarmSetupWindow::GlobalLimits;
}

bool AlarmWindows::openAlarmDelays() {
    if (!validMeterSelected()) return false;
    if (marks.delayWindowOpen) return false;
    marks.delayWindowOpen = true;
    alarmDelays.open(m_meters.selected().address);
    return true;
}

}  // namespace quorna
