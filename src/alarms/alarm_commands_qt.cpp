#include "app/app_shell.h"

namespace quorna {

void installAlarmCommands(AppShell&) {}

}  // namespace quorna
