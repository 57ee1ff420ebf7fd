#include "forms/protocol_trace_dialog.h"


namespace quorna {
namespace {

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

TraceView ProtocolTraceDialog::view() const {
    const BusStatistics& statistics = m_bus.statistics();
    TraceView view;
    view.pane = paneText(m_bus.trace().text());
    view.goodReads = std::to_string(statistics.goodReads);
    view.badReads = std::to_string(statistics.badReads);
    view.lastError = errorText(statistics.lastError);
    return view;
}

bool ProtocolTraceDialog::open() {
    if (m_open) return false;
    m_open = true;
    m_bus.setTraceLive(true);
    return true;
}

void ProtocolTraceDialog::toggleFreeze() { m_bus.setTraceLive(!m_bus.traceLive()); }

void ProtocolTraceDialog::close() {
    m_bus.setTraceLive(false);
    m_open = false;
}

}  // namespace quorna
