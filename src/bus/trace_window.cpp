#include "bus/trace_window.h"

#include "bus/modbus_master.h"
#include "bus/trace_ring.h"
#include "meters/meter_state.h"

namespace quorna {
namespace {

// Kept apart from traceLive: a frozen window still counts as open.
bool g_windowOpen = false;

std::string paneText(const std::string& ring) {
    std::string pane;
    pane.reserve(ring.size());
    for (std::size_t i = 0; i < ring.size(); ++i) {
        if (ring[i] == '\r') {
            pane += '\n';
            if (i + 1 < ring.size() && ring[i + 1] == '\n') ++i;
        } else {
            pane += ring[i];
        }
    }
    return pane;
}

}  // namespace

TraceView traceView() {
    const BusStatistics& statistics = busStatistics();
    TraceView view;
    view.pane = paneText(traceRing().text());
    view.goodReads = std::to_string(statistics.goodReads);
    view.badReads = std::to_string(statistics.badReads);
    view.lastError = errorText(statistics.lastError);
    return view;
}

bool openTraceWindow() {
    if (g_windowOpen) return false;
    g_windowOpen = true;
    traceLive = true;
    return true;
}

void toggleTraceFreeze() { traceLive = !traceLive; }

void closeTraceWindow() {
    traceLive = false;
    g_windowOpen = false;
}

bool traceWindowOpen() { return g_windowOpen; }

void resetTraceWindow() {
    g_windowOpen = false;
    traceLive = false;
}

}  // namespace quorna
