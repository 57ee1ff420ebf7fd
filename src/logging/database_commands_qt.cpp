#include "app/app_shell.h"

namespace quorna {

void installDatabaseCommands(AppShell&) {}

}  // namespace quorna
