#pragma once
// An operator for tests: keeps every message box, cursor change and window request in order.

#include <functional>
#include <string>
#include <vector>

#include "core/operator.h"
#include "test_station.h"

namespace quorna::test {

struct ShownMessage {
    std::string text;
    std::string caption;  // empty: the application's title
};

class RecordingOperator : public Operator {
public:
    RecordingOperator() = default;
    RecordingOperator(const RecordingOperator&) = delete;
    RecordingOperator& operator=(const RecordingOperator&) = delete;

    void messageBox(const std::string& text, const std::string& caption) override;
    void setWaitCursor(bool on) override;
    void transferFields() override { ++transfers; }
    void showLamps() override { ++lampUpdates; }
    void repaintNow() override { ++repaints; }
    void applyLayout(Layout layout) override { layouts.push_back(layout); }
    void meterListChanged() override;
    void repaintTrace() override { ++traceRepaints; }

    // Runs while a message box is "open", as the window system's nested loop would run timer ticks.
    std::function<void(const ShownMessage&)> whileBoxOpen;
    // Runs at every repaintNow and meter-list change, for tests that watch a scan advance.
    std::function<void()> onRepaint;

    std::vector<ShownMessage> messages;
    std::vector<std::string> texts() const;  // the message texts alone, in order
    std::vector<Layout> layouts;
    int waitCursorDepth = 0;
    int waitCursorShows = 0;
    int transfers = 0;
    int lampUpdates = 0;
    int repaints = 0;
    int listChanges = 0;
    int traceRepaints = 0;
};


}  // namespace quorna::test
