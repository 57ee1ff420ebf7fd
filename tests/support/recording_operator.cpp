#include "recording_operator.h"


namespace quorna::test {

void RecordingOperator::notify(const Notice& notice) {
    if (leaveBoxesOpen && !m_open.push(notice)) return;
    messages.push_back({notice.text, notice.caption, notice.severity});
}

void RecordingOperator::answerBoxes() {
    while (!m_open.empty()) m_open.pop();
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

}  // namespace quorna::test
