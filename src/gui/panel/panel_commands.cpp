// Command 32772, panel configuration: the window for the selected meter, run modally.
#include <QKeySequence>

#include "gui/main/app_shell.h"
#include "gui/main/command_ids.h"
#include "forms/panel/panel_config_dialog.h"
#include "gui/panel/panel_config_window.h"
#include "forms/panel/panel_opener.h"
#include "forms/panel/panel_setup_dialog.h"
#include "gui/panel/panel_setup_window.h"
#include "station/station.h"

namespace quorna {
namespace {

void runPanelConfiguration(AppShell& shell) {
    Station& station = shell.station();
    switch (choosePanelWindow(station.meters())) {
    case PanelWindow::None:
        return;
    case PanelWindow::PanelSetup: {
        PanelSetupDialog& logic = station.panelSetup();
        logic.open();
        PanelSetupWindow dialog(shell, logic, shell.mainWindow());
        shell.runModal(dialog);
        return;
    }
    case PanelWindow::PanelConfig: {
        PanelConfigDialog& logic = station.panelConfig();
        logic.open();
        PanelConfigWindow dialog(shell, logic, shell.mainWindow());
        shell.runModal(dialog);
        return;
    }
    }
}

}  // namespace

void installPanelCommands(AppShell& shell) {
    // The main menu has no entry of its own for this command; it sits beside the other
    // configuration commands.
    shell.addCommand(kCmdPanelConfiguration, [&shell] { runPanelConfiguration(shell); }, "Configuration",
                     "Panel...", QKeySequence("Ctrl+P"));
}

}  // namespace quorna
