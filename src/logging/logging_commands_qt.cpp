#include "app/app_shell.h"

namespace quorna {

void installLoggingCommands(AppShell&) {}

}  // namespace quorna
