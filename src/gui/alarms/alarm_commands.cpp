// Setpoints and Delays: the openers run in the logic; here the window they chose is shown,
// modeless, beside the main window, which keeps polling.

#include "gui/alarms/alarm_delay_window.h"
#include "forms/alarms/alarm_windows.h"
#include "gui/alarms/breaker_alarm_window.h"
#include "gui/alarms/global_limits_window.h"
#include "gui/main/app_shell.h"
#include "gui/main/command_ids.h"
#include "station/station.h"

namespace quorna {
namespace {

void showModeless(AlarmWindow* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

void installAlarmCommands(AppShell& shell) {
    shell.addCommand(kCmdSetpoints, [&shell] {
        AlarmWindows& alarms = shell.station().alarms();
        switch (alarms.openAlarmSetup()) {
        case AlarmSetupWindow::BreakerAlarms:
            showModeless(new BreakerAlarmWindow(shell, alarms.breakerAlarms));
            break;
        case AlarmSetupWindow::GlobalLimits:
            showModeless(new GlobalLimitsWindow(shell, alarms.globalLimits));
            break;
        case AlarmSetupWindow::None:
            break;
        }
    });
    shell.addCommand(kCmdDelays, [&shell] {
        AlarmWindows& alarms = shell.station().alarms();
        if (alarms.openAlarmDelays()) showModeless(new AlarmDelayWindow(shell, alarms.alarmDelays));
    });
}

}  // namespace quorna
