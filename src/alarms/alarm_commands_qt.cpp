// Setpoints and Delays: the openers run in the logic; here the window they chose is shown,
// modeless, beside the main window, which keeps polling.

#include "alarms/alarm_delay_window_qt.h"
#include "alarms/alarm_windows.h"
#include "alarms/breaker_alarm_window_qt.h"
#include "alarms/global_limits_window_qt.h"
#include "app/app_shell.h"
#include "app/command_ids.h"

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
        switch (openAlarmSetup()) {
        case AlarmSetupWindow::BreakerAlarms:
            showModeless(new BreakerAlarmWindow(shell, breakerAlarmDialog()));
            break;
        case AlarmSetupWindow::GlobalLimits:
            showModeless(new GlobalLimitsWindow(shell, globalLimitsDialog()));
            break;
        case AlarmSetupWindow::None:
            break;
        }
    });
    shell.addCommand(kCmdDelays, [&shell] {
        if (openAlarmDelays()) showModeless(new AlarmDelayWindow(shell, alarmDelayDialog()));
    });
}

}  // namespace quorna
