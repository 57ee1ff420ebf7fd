#include <QKeySequence>

#include "app/app_shell.h"
#include "app/command_ids.h"
#include "app/qt_operator_qt.h"
#include "bus/trace_window_qt.h"

namespace quorna {

void installTraceCommands(AppShell& shell) {
    // The master (after every exchange while the window is live) and the scan (after every
    // address) reach the window through the operator's trace repaint.
    setTraceRepaintHandler(repaintTraceWindow);
    shell.addCommand(
        kCmdProtocolTrace, [&shell] { openProtocolTraceWindow(shell.mainWindow()); }, QStringLiteral("Configuration"),
        QStringLiteral("Protocol Trace"), QKeySequence(QStringLiteral("Ctrl+T")));
}

}  // namespace quorna
