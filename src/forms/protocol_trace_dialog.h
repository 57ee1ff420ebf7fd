#pragma once
// The logic of the protocol trace window "Modbus Protocol Communication": whether it is open,
// live or frozen, and what it shows, computed afresh from the trace ring and the bus counters
// at every repaint.

#include <string>

#include "bus/bus.h"

namespace quorna {

// What the window shows at one repaint.
struct TraceView {
    std::string pane;       // the four exchanges oldest first, one line per send and receive line
    std::string goodReads;  // "%d"
    std::string badReads;   // "%d"
    std::string lastError;  // the text of the last error code
};

class ProtocolTraceDialog {
public:
    explicit ProtocolTraceDialog(Bus& bus) : m_bus(bus) {}

    // The window's content as of now. The master ends a send line with a carriage return and a
    // receive line with CR LF; the pane shows each of them as one line break.
    [[nodiscard]] TraceView view() const;

    // The open command: true when the window was closed and must now be created; it is then open
    // and live. When it is open already (live or frozen) nothing changes and the result is false.
    [[nodiscard]] bool open();
    // "Freeze": stops or resumes the refresh after every exchange.
    void toggleFreeze();
    // "OK" or the close box: no more refresh, the window is no longer open.
    void close();
    [[nodiscard]] bool isOpen() const { return m_open; }
    [[nodiscard]] bool live() const { return m_bus.traceLive(); }

private:
    Bus& m_bus;
    bool m_open = false;  // kept apart from the bus's live flag: a frozen window still counts as open
};

}  // namespace quorna
