#include <QKeySequence>

#include "app/app_shell.h"
#include "app/command_ids.h"
#include "bus/trace_window_qt.h"

namespace quorna {

void installTraceCommands(AppShell& shell) {
    shell.addCommand(
        kCmdProtocolTrace, [&shell] { openProtocolTraceWindow(shell.mainWindow()); }, QStringLiteral("Configuration"),
        QStringLiteral("Protocol Trace"), QKeySequence(QStringLiteral("Ctrl+T")));
}

}  // namespace quorna
