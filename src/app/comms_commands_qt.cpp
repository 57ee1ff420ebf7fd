#include "app/app_shell.h"

namespace quorna {

void installCommsCommands(AppShell&) {}

}  // namespace quorna
