#pragma once
// The operator as the Qt main window presents it, and the rule that keeps the polling timer
// ticking while a box or a modal dialog runs its own loop.

#include <functional>
#include <string>

#include "app/operator.h"

namespace quorna {

class MainWindow;

class QtOperator final : public Operator {
public:
    explicit QtOperator(MainWindow& window) : m_window(window) {}

    void messageBox(const std::string& text, const std::string& caption) override;
    void setWaitCursor(bool on) override;
    void transferFields() override;
    void showLamps() override;
    void repaintNow() override;
    void applyLayout(Layout layout) override;
    void meterListChanged() override;
    void repaintTrace() override;

private:
    MainWindow& m_window;
};

// Runs a nested modal loop (a box's or a dialog's exec). A timer does not fire again while its
// own handler runs, so when this is called from inside a polling tick a helper timer of the
// same period runs the ticks until the loop returns. Returns what modalRun returned.
int runKeepingTicks(const std::function<int()>& modalRun);

// The protocol trace window registers how it repaints itself at once (nothing until then).
void setTraceRepaintHandler(std::function<void()> handler);

}  // namespace quorna
