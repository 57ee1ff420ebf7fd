#pragma once
// What the three alarm windows share on screen: modeless, deleted on closing, "OK" (default),
// "Cancel" and "Help", and the take of every field whenever one of their edits loses the focus.

#include <QDialog>
#include <QLineEdit>
#include <QString>
#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "gui/main/meter_text.h"

class QPushButton;
class QHBoxLayout;
class QVBoxLayout;

namespace quorna {

class AppShell;

class AlarmWindow : public QDialog {
    Q_OBJECT
public:
    // helpAnchor: the window's section of the help document (gui/main/help_anchors.h).
    AlarmWindow(AppShell& shell, const QString& title, const char* helpAnchor);
    ~AlarmWindow() override;

    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* helpButton() const { return m_help; }

    // The edit of a field index of the logic; nothing for an index the window does not show.
    virtual QLineEdit* editOfField(int field) const = 0;

    // Runs the take now, as a focus change would: true when every field passed. A failing field
    // has had its message shown by the logic and gets the focus back.
    bool takeFromWindow();

    void reject() override;

protected:
    // The logic's take from the controls' texts; the index of the failing field, if one failed.
    virtual std::optional<int> takeFields() = 0;
    // "OK": the logic writes what changed; returns the failing field when it refused.
    virtual std::optional<int> writeChanges() = 0;
    // "Cancel", closing, or destruction while open: the logic clears its mark. A function rather
    // than a virtual so that the destructor can still call it.
    void setCancelLogic(std::function<void()> cancel) { m_cancelLogic = std::move(cancel); }

    // The logic's texts into the edits of fields 0..N-1, and back.
    template <std::size_t N>
    void showTexts(const std::array<std::string, N>& texts) const {
        for (std::size_t field = 0; field < N; ++field) {
            editOfField(static_cast<int>(field))->setText(toQt(texts[field]));
        }
    }
    template <std::size_t N>
    void readTexts(std::array<std::string, N>& texts) const {
        for (std::size_t field = 0; field < N; ++field) {
            texts[field] = fromQt(editOfField(static_cast<int>(field))->text());
        }
    }

    // The edit takes all fields when it loses the focus to another control of this window.
    void watchFocus(QLineEdit* edit);
    // A row of "OK", "Cancel" and "Help", right-aligned.
    QHBoxLayout* buttonRow();
    // Gives the focus back to the edit of a refused field, its text selected; nothing when empty.
    void focusField(std::optional<int> field);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onOk();
    void queuedTake();

    void closeLogic();

    AppShell& m_shell;
    std::function<void()> m_cancelLogic;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_help = nullptr;
    bool m_closed = false;       // the logic has been told the window closed
    bool m_taking = false;       // a take runs: focus changes it causes start none
    bool m_takePending = false;  // a focus change asked for a take that has not run yet
};

}  // namespace quorna
