#include <QKeySequence>

#include "gui/bus/protocol_trace_window.h"
#include "gui/main/app_shell.h"
#include "gui/main/command_ids.h"
#include "station/station.h"

namespace quorna {

void installTraceCommands(AppShell& shell) {
    // The master (after every exchange while the window is live) and the scan (after every
    // address) reach the window through the operator's trace repaint.
    shell.setTraceRepaint([&shell] { repaintTraceWindow(shell.mainWindow()); });
    shell.addCommand(
        kCmdProtocolTrace, [&shell] { openProtocolTraceWindow(shell.station().trace(), shell.mainWindow()); },
        QStringLiteral("Configuration"), QStringLiteral("Protocol Trace"), QKeySequence(QStringLiteral("Ctrl+T")));
}

}  // namespace quorna
