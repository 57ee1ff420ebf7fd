#pragma once
// An operator for tests: keeps every notice shown, cursor change and window request in order.

#include <functional>
#include <string>
#include <vector>

#include "core/notice_queue.h"
#include "core/operator.h"

namespace quorna::test {

struct ShownMessage {
    std::string text;
    std::string caption;  // empty: the application's title
    Severity severity = Severity::Error;
};

class RecordingOperator : public Operator {
public:
    RecordingOperator() = default;
    RecordingOperator(const RecordingOperator&) = delete;
    RecordingOperator& operator=(const RecordingOperator&) = delete;

    // A notice is shown as the window shows it, and answered at once unless boxes are left open.
    void notify(const Notice& notice) override;
    void setWaitCursor(bool on) override;
    void transferFields() override { ++transfers; }
    void showLamps() override { ++lampUpdates; }
    void repaintNow() override { ++repaints; }
    void applyLayout(Layout layout) override { layouts.push_back(layout); }
    void meterListChanged() override;
    void repaintTrace() override { ++traceRepaints; }

    // Nobody answers: each box stays on show, and a notice equal to one on show or waiting is not
    // shown again, as in the window, until answerBoxes.
    bool leaveBoxesOpen = false;
    void answerBoxes();
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

private:
    NoticeQueue m_open;
};


}  // namespace quorna::test
