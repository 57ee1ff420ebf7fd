#pragma once
// The operator as the Qt main window presents it, and the rule that keeps the polling timer
// ticking while a box or a modal dialog runs its own loop.

#include <functional>
#include <string>

#include "core/operator.h"

namespace quorna {

class MainWindow;
class Station;

// Until a window attaches itself, messages go nowhere and nothing is painted.
class QtOperator final : public Operator {
public:
    // The window that shows what the core sends and the station whose ticks go on while a box
    // is open; nullptr for both detaches them.
    void attach(MainWindow* window, Station* station);
    void setTraceRepaint(std::function<void()> repaint) { m_traceRepaint = std::move(repaint); }

    void messageBox(const std::string& text, const std::string& caption) override;
    void setWaitCursor(bool on) override;
    void transferFields() override;
    void showLamps() override;
    void repaintNow() override;
    void applyLayout(Layout layout) override;
    void meterListChanged() override;
    void repaintTrace() override;

private:
    MainWindow* m_window = nullptr;
    Station* m_station = nullptr;
    std::function<void()> m_traceRepaint;
};

// Runs a nested modal loop (a box's or a dialog's exec). A timer does not fire again while its
// own handler runs, so when this is called from inside one of the station's polling ticks a
// helper timer of the same period runs the ticks until the loop returns. Returns what modalRun
// returned.
int runKeepingTicks(Station* station, const std::function<int()>& modalRun);

}  // namespace quorna
