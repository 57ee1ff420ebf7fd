#pragma once
// The one interface through which the core reaches the operator: notices, the wait cursor, and
// the main window's field transfer, lamps, meter list and layout. The Qt layer implements it;
// the logger writes the notices to standard error; tests implement it with a recorder. The core
// never includes a window-system header.

#include <string>

namespace quorna {

enum class Layout { BranchView, CircuitView };

// How much a notice matters, as its source judges it: the logger writes it at this level (error,
// warning, info); the window shows every notice the same way, as a box with an OK button.
enum class Severity { Error, Warning, Info };

// What the operator must be told. An empty caption means the application's title.
struct Notice {
    Severity severity = Severity::Error;
    std::string caption;
    std::string text;

    friend bool operator==(const Notice&, const Notice&) = default;
};

class Operator {
public:
    virtual ~Operator() = default;

    // Tells the operator something and returns at once: the core never waits for an answer. The
    // window shows the notice as a modal box once the command or tick that raised it has returned.
    virtual void notify(const Notice& notice) = 0;

    void error(const std::string& text, const std::string& caption = {}) { notify({Severity::Error, caption, text}); }
    void warning(const std::string& text, const std::string& caption = {}) {
        notify({Severity::Warning, caption, text});
    }
    void info(const std::string& text, const std::string& caption = {}) { notify({Severity::Info, caption, text}); }

    // What follows is the window's: an operator without a window (the logger) shows none of it,
    // and leaves these as they are.

    // Shows (on) or restores (off) the wait cursor. Calls nest; WaitCursor pairs them.
    virtual void setWaitCursor(bool /*on*/) {}

    // Main window: copies the texts of the station's MainWindowFields into the controls (not lamps, list or layout).
    virtual void transferFields() {}
    // Main window: the lamp states in MainWindowFields changed.
    virtual void showLamps() {}
    // Main window: paint now (the scan calls it as it lists the meters).
    virtual void repaintNow() {}
    // Main window: switch to one of the two layouts, with its menu enabling and list placement.
    virtual void applyLayout(Layout /*layout*/) {}
    // Main window: the entries or the selection of the meter list changed.
    virtual void meterListChanged() {}
    // Protocol trace window: redraw from the trace ring and the bus statistics, at once.
    virtual void repaintTrace() {}
};

// An operator that answers nothing and shows nothing: for a station without anybody watching.
class SilentOperator final : public Operator {
public:
    void notify(const Notice&) override {}
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
