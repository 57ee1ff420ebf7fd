#include "gui/main/app_shell.h"
#include "gui/main/command_ids.h"
#include "gui/main/help_anchors.h"
#include "forms/comms_config_dialog.h"
#include "gui/main/comms_config_window.h"
#include "station/station.h"

namespace quorna {

void installCommsCommands(AppShell& shell) {
    shell.addCommand(
        kCmdComms,
        [&shell] {
            Station& station = shell.station();
            CommsCommand(station.meters(), [&shell, &station] {
                CommsConfigDialog logic(station.bus(), station.logging());
                CommsConfigWindow dialog(logic, shell.mainWindow());
                QObject::connect(&dialog, &CommsConfigWindow::helpRequested, &dialog,
                                 [&shell] { shell.showHelpAt(QString::fromLatin1(help::kComms)); });
                return shell.runModal(dialog) == QDialog::Accepted;
            });
        },
        QStringLiteral("Configuration"), QStringLiteral("Comms"));
}

}  // namespace quorna
