#include "app/app_shell.h"

namespace quorna {

void installPanelCommands(AppShell&) {}

}  // namespace quorna
