#include "app/app_shell.h"
#include "app/command_ids.h"
#include "app/comms_config.h"
#include "app/comms_config_dialog_qt.h"

namespace quorna {

void installCommsCommands(AppShell& shell) {
    shell.addCommand(
        kCmdComms,
        [&shell] {
            CommsCommand([&shell] {
                CommsConfigDialogQt dialog(shell.mainWindow());
                return shell.runModal(dialog) == QDialog::Accepted;
            });
        },
        QStringLiteral("Configuration"), QStringLiteral("Comms"));
}

}  // namespace quorna
