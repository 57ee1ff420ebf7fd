#include "app/app_shell.h"

namespace quorna {

void installTraceCommands(AppShell&) {}

}  // namespace quorna
