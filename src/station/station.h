#pragma once
// One running system: the settings, the bus, the meters on it, their logging, and the logic of
// every window that lives as long as the program. The window program owns one; the tests build
// as many as they like, and two stations in one process share nothing.

#include <chrono>
#include <string>
#include <utility>

#include "bus/bus.h"
#include "core/operator.h"
#include "forms/alarms/alarm_windows.h"
#include "forms/database_link_dialog.h"
#include "forms/panel/panel_config_dialog.h"
#include "forms/panel/panel_setup_dialog.h"
#include "forms/protocol_trace_dialog.h"
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

    // The parts, each behind its own interface. The settings are the operator's record of what
    // "Quorna.cfg" holds: the setup windows edit it, and the next tick acts on it.
    [[nodiscard]] Operator& op() const { return m_op; }
    [[nodiscard]] ConfigurationRecord& settings() { return m_settings; }
    [[nodiscard]] const ConfigurationRecord& settings() const { return m_settings; }
    [[nodiscard]] Bus& bus() { return m_bus; }
    [[nodiscard]] const Bus& bus() const { return m_bus; }
    [[nodiscard]] Meters& meters() { return m_meters; }
    [[nodiscard]] const Meters& meters() const { return m_meters; }
    [[nodiscard]] Logging& logging() { return m_logging; }
    [[nodiscard]] const Logging& logging() const { return m_logging; }

    // The windows whose state lasts for the whole run; the others are built when their command runs.
    [[nodiscard]] ProtocolTraceDialog& trace() { return m_trace; }
    [[nodiscard]] AlarmWindows& alarms() { return m_alarms; }
    [[nodiscard]] PanelSetupDialog& panelSetup() { return m_panelSetup; }
    [[nodiscard]] PanelConfigDialog& panelConfig() { return m_panelConfig; }
    [[nodiscard]] DatabaseLinkDialog& databaseLink() { return m_databaseLink; }

    // The settings file: "Quorna.cfg" in the working directory unless the logger is given another.
    // The logging spool and the rejected records' file sit beside it.
    [[nodiscard]] const std::string& configFile() const { return m_configFile; }
    void useConfigFile(std::string path) { m_configFile = std::move(path); }

    // Start-up: reads the settings file into the settings and the link. The port it names is not
    // opened here: the first tick opens it. False when the file could not be opened (the defaults
    // stay in place).
    bool readSettings();

    // One tick of the one-second timer. Opens the port the settings named (and begins a scan of
    // the bus when it opened), polls the selected meter, then runs the logging cycle when file
    // logging is on or database logging is Active. Nothing is done while a scan runs, nor while
    // the tick before is still under way. What the operator must hear goes out as notices. The
    // tick only begins its work: each meter's answer is awaited by the steps that follow it
    // (`step`), so that nothing in a tick holds the caller for a meter's whole read time-out. A
    // database connect runs on its own thread: the records wait for a catch-up slice that finds
    // it done. The window and the logger run the same tick.
    void tick();
    // The next step of the work under way: of the tick (a slice of waiting for a meter's answer,
    // or the next meter, or the moment's writing) and then of a scan (an address). True while
    // more is to come; the caller runs it again soon, after its own events.
    bool step();
    [[nodiscard]] bool tickUnderWay() const { return m_tickStage != TickStage::Idle; }
    [[nodiscard]] bool busy() const { return tickUnderWay() || scanning(); }

    // A scan of the bus runs a step (one address) at a time, so that the caller repaints, answers
    // and stops between them: `scan` begins one (or queues one after the scan under way; a tick
    // under way finishes first, in `step`),
    // `scanStep` asks the next address and says whether more steps are to come, `cancelScan`
    // ends it at once (the port changes, the program ends).
    void scan();
    bool scanStep();
    void cancelScan();
    [[nodiscard]] bool scanning() const;

    // A tick run to its end: its steps run whole, a scan it begins runs whole, and then the tick goes on to poll and
    // log as if the scan had taken no time; a connect to the database it begins is waited for
    // (tick leaves it under way and the records waiting), and the records then sent.
    void PollingCycle();

    // The logger's station reads the listed meters only at the logging moments: no poll of the
    // selected meter at each tick. On by default, as the window does.
    void pollSelectedMeterEachTick(bool on) { m_pollSelected = on; }

    // One slice of sending the logging backlog, for the caller to run soon after a tick (and again
    // while it says true) so that the window answers between slices.
    bool catchUp();

    // How long a step waits for a meter's answer at most.
    static constexpr std::chrono::milliseconds kAnswerSlice{50};

private:
    enum class TickStage { Idle, Poll, Moment };
    void beginMoment();
    void finishTick();

    Operator& m_op;
    ConfigurationRecord m_settings;
    Bus m_bus;
    Meters m_meters;
    Logging m_logging;
    ProtocolTraceDialog m_trace;
    AlarmWindows m_alarms;
    PanelSetupDialog m_panelSetup;  // keeps the global rating between openings
    PanelConfigDialog m_panelConfig;
    DatabaseLinkDialog m_databaseLink;  // keeps the typed user name and password between openings
    std::string m_configFile = kConfigurationFileName;
    bool m_pollSelected = true;
    TickStage m_tickStage = TickStage::Idle;
};

}  // namespace quorna
