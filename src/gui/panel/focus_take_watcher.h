#pragma once
// Runs a window's field take whenever one of its edits loses the keyboard focus to something
// else in the program, as the operator tabs or clicks away. Focus lost to a message box or to
// another window does not count, nor does the focus the window itself moves back to a failing edit.

#include <QObject>
#include <functional>

class QWidget;

namespace quorna {

class FocusTakeWatcher : public QObject {
    Q_OBJECT
public:
    // take runs from the event loop just after the focus left, while `window` is visible.
    FocusTakeWatcher(QWidget* window, std::function<void()> take);

    void watch(QWidget* edit);
    // Gives the edit the focus (its text selected) without starting another take.
    void giveFocus(QWidget* edit);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    std::function<void()> m_take;
    bool m_pending = false;
    bool m_moving = false;
};

}  // namespace quorna
