#include "gui/panel/focus_take_watcher.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

namespace quorna {

FocusTakeWatcher::FocusTakeWatcher(QWidget* window, std::function<void()> take)
    : QObject(window), m_window(window), m_take(std::move(take)) {}

void FocusTakeWatcher::watch(QWidget* edit) { edit->installEventFilter(this); }

void FocusTakeWatcher::giveFocus(QWidget* edit) {
    m_moving = true;
    edit->setFocus(Qt::OtherFocusReason);
    if (auto* line = qobject_cast<QLineEdit*>(edit)) line->selectAll();
    m_moving = false;
}

bool FocusTakeWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !m_moving && !m_pending) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            // The take may show a modal box: run it from the event loop, not inside the focus change.
            m_pending = true;
            QTimer::singleShot(0, this, [this] {
                m_pending = false;
                if (m_window->isVisible()) m_take();
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace quorna
