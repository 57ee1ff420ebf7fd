#pragma once
// "Modbus Protocol Communication": the modeless window over the trace logic. At most one
// exists; it shows the last four exchanges and the bus counters.

#include <QDialog>

#include "forms/protocol_trace_dialog.h"

class QLabel;
class QLineEdit;

namespace quorna {

class ProtocolTraceWindow : public QDialog {
    Q_OBJECT

public:
    explicit ProtocolTraceWindow(ProtocolTraceDialog& logic, QWidget* parent = nullptr);
    ~ProtocolTraceWindow() override;

    // Rebuilds the pane and the three fields from the trace ring and the bus counters.
    void refresh();
    // Rebuilds them once more when the program is back in its event loop. Several calls before
    // then give one refresh.
    void refreshLater();

    // "OK", Esc and the close box: the window stops refreshing and goes away.
    void done(int result) override;

protected:
    // The window shows the exchanges as they are whenever it is shown or resized, frozen or not.
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend ProtocolTraceWindow* protocolTraceWindow(QWidget* parent);

    ProtocolTraceDialog& m_logic;
    QLabel* m_pane = nullptr;
    QLineEdit* m_good = nullptr;
    QLineEdit* m_bad = nullptr;
    QLineEdit* m_lastError = nullptr;
    bool m_refreshPending = false;
};

// The open command: creates the window, modeless under parent, unless one is open already.
void openProtocolTraceWindow(ProtocolTraceDialog& logic, QWidget* parent);

// The main window's Operator::repaintTrace forwards here: redraws the open window under parent
// at once (the master calls it after every exchange while the window is live, the scan after
// every address). Does nothing when no window is open.
void repaintTraceWindow(QWidget* parent);

// The open window under parent, or nullptr.
ProtocolTraceWindow* protocolTraceWindow(QWidget* parent);

}  // namespace quorna
