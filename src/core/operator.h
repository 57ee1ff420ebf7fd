#pragma once
// The one interface through which the core reaches the operator: message boxes, the wait cursor,
// and the main window's field transfer, lamps, meter list and layout. The Qt layer implements it;
// tests implement it with a recorder. The core never includes a window-system header.

#include <string>

namespace quorna {

enum class Layout { BranchView, CircuitView };

class Operator {
public:
    virtual ~Operator() = default;

    // A modal message box with an OK button. An empty caption means the application's title.
    // Returns when the operator has closed the box; timer ticks keep running meanwhile.
    virtual void messageBox(const std::string& text, const std::string& caption) = 0;

    // Shows (on) or restores (off) the wait cursor. Calls nest; WaitCursor pairs them.
    virtual void setWaitCursor(bool on) = 0;

    // Main window: copies the texts of the station's MainWindowFields into the controls (not lamps, list or layout).
    virtual void transferFields() = 0;
    // Main window: the lamp states in MainWindowFields changed.
    virtual void showLamps() = 0;
    // Main window: paint now, while the thread stays busy (the scan calls it between probes).
    virtual void repaintNow() = 0;
    // Main window: switch to one of the two layouts, with its menu enabling and list placement.
    virtual void applyLayout(Layout layout) = 0;
    // Main window: the entries or the selection of the meter list changed.
    virtual void meterListChanged() = 0;
    // Protocol trace window: redraw from the trace ring and the bus statistics, at once.
    virtual void repaintTrace() = 0;
};

// An operator that answers nothing and shows nothing: for a station without anybody watching.
class SilentOperator final : public Operator {
public:
    void messageBox(const std::string&, const std::string&) override {}
    void setWaitCursor(bool) override {}
    void transferFields() override {}
    void showLamps() override {}
    void repaintNow() override {}
    void applyLayout(Layout) override {}
    void meterListChanged() override {}
    void repaintTrace() override {}
};

// Shows the operator's wait cursor for the life of the object.
class WaitCursor {
public:
    explicit WaitCursor(Operator& op) : m_op(op) { m_op.setWaitCursor(true); }
    ~WaitCursor() { m_op.setWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    Operator& m_op;
};

// The application's title, the caption of every box without one of its own.
inline constexpr const char* kApplicationTitle = "Orvo Monitoring Software";

}  // namespace quorna
