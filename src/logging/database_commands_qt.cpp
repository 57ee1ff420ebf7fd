#include <QKeySequence>

#include "app/app_shell.h"
#include "app/command_ids.h"
#include "logging/database_link_qt.h"

namespace quorna {

void installDatabaseCommands(AppShell& shell) {
    shell.addCommand(
        kCmdDatabaseSetup, [&shell] { runDatabaseCommand(shell); }, QStringLiteral("Configuration"),
        QStringLiteral("Database"), QKeySequence(QStringLiteral("Ctrl+D")));
}

}  // namespace quorna
