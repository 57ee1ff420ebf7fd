#include "app/qt_operator_qt.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "app/main_window_qt.h"
#include "meters/polling_cycle.h"

namespace quorna {
namespace {

std::function<void()>& traceRepaintHandler() {
    static std::function<void()> handler;
    return handler;
}

}  // namespace

int runKeepingTicks(const std::function<int()>& modalRun) {
    if (pollingTickDepth() == 0) return modalRun();
    QTimer helper;
    helper.setInterval(kPollPeriodMs);
    QObject::connect(&helper, &QTimer::timeout, [] { PollingCycle(); });
    helper.start();
    const int result = modalRun();
    helper.stop();
    return result;
}

void setTraceRepaintHandler(std::function<void()> handler) { traceRepaintHandler() = std::move(handler); }

void QtOperator::messageBox(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption.empty() ? kApplicationTitle : caption),
                    QString::fromStdString(text), QMessageBox::Ok, &m_window);
    runKeepingTicks([&box] { return box.exec(); });
}

void QtOperator::setWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void QtOperator::transferFields() { m_window.transferFields(); }
void QtOperator::showLamps() { m_window.showLamps(); }
void QtOperator::repaintNow() { m_window.repaintNow(); }
void QtOperator::applyLayout(Layout layout) { m_window.applyLayout(layout); }
void QtOperator::meterListChanged() { m_window.showMeterList(); }

void QtOperator::repaintTrace() {
    if (traceRepaintHandler()) traceRepaintHandler()();
}

}  // namespace quorna
