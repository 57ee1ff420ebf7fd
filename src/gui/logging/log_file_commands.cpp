#include <QKeySequence>

#include "gui/main/app_shell.h"
#include "gui/main/command_ids.h"
#include "gui/main/help_anchors.h"
#include "gui/logging/log_file_window.h"
#include "station/station.h"

namespace quorna {

void installLogFileCommands(AppShell& shell) {
    shell.addCommand(
        kCmdLogFileSetup,
        [&shell] {
            LogFileDialog logic(shell.station().logging());
            LogFileWindow dialog(logic, shell.mainWindow());
            QObject::connect(&dialog, &LogFileWindow::helpRequested, &dialog,
                             [&shell] { shell.showHelpAt(QString::fromLatin1(help::kLogFile)); });
            shell.runModal(dialog);
        },
        QStringLiteral("Configuration"), QStringLiteral("Log File"), QKeySequence(QStringLiteral("Ctrl+L")));
}

}  // namespace quorna
