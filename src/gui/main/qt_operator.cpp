#include "gui/main/qt_operator.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "gui/main/main_window.h"

namespace quorna {

QtOperator::~QtOperator() {
    if (m_box != nullptr) delete m_box.data();
}

void QtOperator::attach(MainWindow* window) {
    m_window = window;
    if (window == nullptr) {
        if (m_box != nullptr) delete m_box.data();
        m_notices = NoticeQueue();
        m_showPosted = false;
    }
}

void QtOperator::notify(const Notice& notice) {
    if (m_window == nullptr || !m_notices.push(notice) || m_showPosted) return;
    // Shown from the event loop, after the tick or command under way has returned.
    m_showPosted = true;
    QTimer::singleShot(0, m_window, [this] {
        m_showPosted = false;
        showFirst();
    });
}

void QtOperator::showFirst() {
    if (m_box != nullptr || m_notices.empty() || m_window == nullptr) return;
    const Notice& notice = m_notices.front();
    // Over the dialog the operator works in, if one is open; modal to the whole program either way.
    QWidget* parent = QApplication::activeModalWidget() != nullptr ? QApplication::activeModalWidget() : m_window;
    auto* box = new QMessageBox(QMessageBox::NoIcon,
                                QString::fromStdString(notice.caption.empty() ? kApplicationTitle : notice.caption),
                                QString::fromStdString(notice.text), QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, m_window, [this] {
        m_box = nullptr;
        m_notices.pop();
        showFirst();
    });
    m_box = box;
    box->show();
}

void QtOperator::setWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void QtOperator::transferFields() {
    if (m_window != nullptr) m_window->transferFields();
}
void QtOperator::showLamps() {
    if (m_window != nullptr) m_window->showLamps();
}
void QtOperator::repaintNow() {
    if (m_window != nullptr) m_window->repaintNow();
}
void QtOperator::applyLayout(Layout layout) {
    if (m_window != nullptr) m_window->applyLayout(layout);
}
void QtOperator::meterListChanged() {
    if (m_window != nullptr) m_window->showMeterList();
}
void QtOperator::repaintTrace() {
    if (m_traceRepaint) m_traceRepaint();
}

}  // namespace quorna
