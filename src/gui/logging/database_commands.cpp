#include <QKeySequence>

#include "gui/main/app_shell.h"
#include "gui/main/command_ids.h"
#include "gui/logging/database_link_window.h"

namespace quorna {

void installDatabaseCommands(AppShell& shell) {
    shell.addCommand(
        kCmdDatabaseSetup, [&shell] { runDatabaseCommand(shell); }, QStringLiteral("Configuration"),
        QStringLiteral("Database"), QKeySequence(QStringLiteral("Ctrl+D")));
}

}  // namespace quorna
