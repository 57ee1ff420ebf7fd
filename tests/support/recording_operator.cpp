#include "recording_operator.h"


namespace quorna::test {

void RecordingOperator::messageBox(const std::string& text, const std::string& caption) {
    messages.push_back({text, caption});
    if (whileBoxOpen) {
        // A box opened by a tick that runs inside this box must not recurse forever.
        auto hook = std::move(whileBoxOpen);
        whileBoxOpen = nullptr;
        hook(messages.back());
        if (!whileBoxOpen) whileBoxOpen = std::move(hook);
    }
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
