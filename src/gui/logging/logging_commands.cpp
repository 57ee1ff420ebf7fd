#include "gui/main/app_shell.h"

namespace quorna {

void installLogFileCommands(AppShell& shell);   // 32777, beside the file logging
void installDatabaseCommands(AppShell& shell);  // 32778, beside the database logging

void installLoggingCommands(AppShell& shell) {
    installLogFileCommands(shell);
    installDatabaseCommands(shell);
}

}  // namespace quorna
