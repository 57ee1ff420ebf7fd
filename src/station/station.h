#pragma once
// One running system: the settings, the bus, the meters on it, their logging, and the logic of
// every window that lives as long as the program. The window program owns one; the tests build
// as many as they like, and two stations in one process share nothing.

#include <string>

#include "bus/bus.h"
#include "core/operator.h"
#include "forms/alarms/alarm_windows.h"
#include "forms/database_link.h"
#include "forms/panel/panel_config.h"
#include "forms/panel/panel_setup.h"
#include "forms/trace_window.h"
#include "logging/logging.h"
#include "meters/meters.h"
#include "settings/configuration.h"

namespace quorna {

class Station {
public:
    // Everything the station shows or asks goes to the operator, which outlives the station.
    explicit Station(Operator& op);
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    Operator& op;
    ConfigurationRecord settings;
    Bus bus;
    Meters meters;
    Logging logging;

    // The windows whose state lasts for the whole run; the others are built when their command runs.
    ProtocolTraceDialog trace;
    AlarmWindows alarms;
    PanelSetupDialog panelSetup;   // keeps the global rating between openings
    PanelConfigDialog panelConfig;
    DatabaseLinkDialog databaseLink;  // keeps the typed user name and password between openings

    // The settings file: "Quorna.cfg" in the working directory unless the logger is given another.
    // The logging spool and the rejected records' file sit beside it.
    std::string configFile = kConfigurationFileName;

    // Start-up: reads the settings file into the settings and the link. The port it names is not
    // opened here: the first tick opens it. False when the file could not be opened (the defaults
    // stay in place).
    bool readSettings();

    // One tick of the one-second timer. Opens the port the settings named (and scans the bus when
    // it opened), polls the selected meter, then runs the logging cycle when file logging is on
    // or database logging is Active. Message boxes shown inside keep the timer ticking, so a tick
    // may run inside another.
    void PollingCycle();

    // One slice of sending the logging backlog, for the caller to run soon after a tick (and again
    // while it says true) so that the window answers between slices.
    bool catchUp();

    // How many ticks are running right now, nested ones included; 0 outside a tick. The window's
    // operator uses it to keep polling while a box opened inside a tick is shown.
    [[nodiscard]] int tickDepth() const { return m_tickDepth; }

private:
    int m_tickDepth = 0;
};

}  // namespace quorna
