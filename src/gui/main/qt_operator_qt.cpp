#include "gui/main/qt_operator_qt.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "gui/main/main_window_qt.h"
#include "meters/polling_cycle.h"
#include "station/station.h"

namespace quorna {

int runKeepingTicks(Station* station, const std::function<int()>& modalRun) {
    if (station == nullptr || station->tickDepth() == 0) return modalRun();
    QTimer helper;
    helper.setInterval(kPollPeriodMs);
    QObject::connect(&helper, &QTimer::timeout, [station] { station->PollingCycle(); });
    helper.start();
    const int result = modalRun();
    helper.stop();
    return result;
}

void QtOperator::attach(MainWindow* window, Station* station) {
    m_window = window;
    m_station = station;
}

void QtOperator::messageBox(const std::string& text, const std::string& caption) {
    if (m_window == nullptr) return;
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption.empty() ? kApplicationTitle : caption),
                    QString::fromStdString(text), QMessageBox::Ok, m_window);
    runKeepingTicks(m_station, [&box] { return box.exec(); });
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
