// Command 32772, panel configuration: the window for the selected meter, run modally.
#include <QKeySequence>

#include "app/app_shell.h"
#include "app/command_ids.h"
#include "panel/panel_config.h"
#include "panel/panel_config_dialog_qt.h"
#include "panel/panel_opener.h"
#include "panel/panel_setup.h"
#include "panel/panel_setup_dialog_qt.h"

namespace quorna {
namespace {

void runPanelConfiguration(AppShell& shell) {
    switch (choosePanelWindow()) {
    case PanelWindow::None:
        return;
    case PanelWindow::PanelSetup: {
        PanelSetupDialog& logic = panelSetupDialog();
        logic.open();
        PanelSetupDialogQt dialog(shell, logic, shell.mainWindow());
        shell.runModal(dialog);
        return;
    }
    case PanelWindow::PanelConfig: {
        PanelConfigDialog& logic = panelConfigDialog();
        logic.open();
        PanelConfigDialogQt dialog(shell, logic, shell.mainWindow());
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
