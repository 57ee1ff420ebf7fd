#pragma once
// The operator as the Qt main window presents it. Notices wait in a queue and are shown one at a
// time as modal boxes once the tick or command that raised them has returned; a box runs no loop
// of its own, so the polling timer keeps ticking in the program's one event loop meanwhile.

#include <QPointer>
#include <functional>
#include <string>

#include "core/notice_queue.h"
#include "core/operator.h"

class QMessageBox;

namespace quorna {

class MainWindow;

// Until a window attaches itself, notices go nowhere and nothing is painted.
class QtOperator final : public Operator {
public:
    QtOperator() = default;
    QtOperator(const QtOperator&) = delete;
    QtOperator& operator=(const QtOperator&) = delete;
    ~QtOperator() override;

    // The window that shows what the core sends; nullptr detaches it and drops waiting notices.
    void attach(MainWindow* window);
    void setTraceRepaint(std::function<void()> repaint) { m_traceRepaint = std::move(repaint); }

    void notify(const Notice& notice) override;
    void setWaitCursor(bool on) override;
    void transferFields() override;
    void showLamps() override;
    void repaintNow() override;
    void applyLayout(Layout layout) override;
    void meterListChanged() override;
    void repaintTrace() override;

private:
    // Shows the first waiting notice unless a box is already on show.
    void showFirst();

    MainWindow* m_window = nullptr;
    std::function<void()> m_traceRepaint;
    NoticeQueue m_notices;
    QPointer<QMessageBox> m_box;  // the notice on show
    bool m_showPosted = false;    // a showFirst waits in the event queue
};

}  // namespace quorna
