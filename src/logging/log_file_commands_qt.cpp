#include <QKeySequence>

#include "app/app_shell.h"
#include "app/command_ids.h"
#include "logging/log_file_dialog_qt.h"

namespace quorna {

void installLogFileCommands(AppShell& shell) {
    shell.addCommand(
        kCmdLogFileSetup,
        [&shell] {
            LogFileDialogQt dialog(shell.mainWindow());
            shell.runModal(dialog);
        },
        QStringLiteral("Configuration"), QStringLiteral("Log File"), QKeySequence(QStringLiteral("Ctrl+L")));
}

}  // namespace quorna
