#include "recording_operator.h"

#include "alarms/alarm_windows.h"
#include "app/main_window_fields.h"
#include "bus/serial_link.h"
#include "bus/trace_ring.h"
#include "bus/trace_window.h"
#include "logging/database_link.h"
#include "logging/file_log_writer.h"
#include "logging/logging_sampler.h"
#include "logging/readings_record.h"
#include "meters/meter_list.h"
#include "meters/meter_model.h"
#include "meters/meter_scan.h"
#include "meters/meter_state.h"
#include "panel/panel_opener.h"
#include "settings/configuration.h"

namespace quorna::test {

void RecordingOperator::messageBox(const std::string& text, const std::string& caption) {
    messages.push_back({text, caption});
    if (whileBoxOpen) {
        // A box opened by a tick that runs inside this box must not recurse forever.
        auto hook = std::move(whileBoxOpen);
        whileBoxOpen = nullptr;
        hook(messages.back());
        if (!whileBoxOpen) whileBoxOpen = std::move(hook);
    }
}

void RecordingOperator::setWaitCursor(bool on) {
    waitCursorDepth += on ? 1 : -1;
    if (on) ++waitCursorShows;
}

void RecordingOperator::meterListChanged() {
    ++listChanges;
    if (onRepaint) onRepaint();
}

std::vector<std::string> RecordingOperator::texts() const {
    std::vector<std::string> result;
    for (const auto& m : messages) result.push_back(m.text);
    return result;
}

void resetCoreState() {
    configuration() = ConfigurationRecord{};
    closePort(serialLink());
    serialLink() = SerialLink{};
    setPortOpener(nullptr);
    meterDirectory().fill(0);
    selectedMeter() = SelectedMeter{};
    busStatistics() = BusStatistics{};
    consecutiveFailures = 0;
    CurrentScale = 0.0F;
    scanning = false;
    mainFields() = MainWindowFields{};
    meterList() = MeterList{};
    fileQueue().clear();
    databaseQueue().clear();
    traceRing() = TraceRing{};
    traceLive = false;
    resetTraceWindow();
    resetLoggingSampler();
    setFileWriteFunction(nullptr);
    resetDatabaseLinkForTests();
    resetAlarmState();
    resetPanelState();
}

}  // namespace quorna::test
