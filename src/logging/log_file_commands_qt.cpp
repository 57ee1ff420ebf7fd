#include "app/app_shell.h"

namespace quorna {

void installLogFileCommands(AppShell&) {}

}  // namespace quorna
