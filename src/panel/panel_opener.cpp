#include "panel/panel_opener.h"

#include "app/operator.h"
#include "meters/meter_model.h"
#include "meters/meter_state.h"
#include "panel/panel_config.h"
#include "panel/panel_setup.h"

namespace quorna {

PanelWindow choosePanelWindow() {
    const int address = selectedMeter().address;
    if (address <= 0) {
        ui().messageBox(kNoValidMeterToConfigure, "");
        return PanelWindow::None;
    }
    return directoryModel(address) == kBranchMeter ? PanelWindow::PanelSetup : PanelWindow::PanelConfig;
}

void resetPanelState() {
    panelSetupDialog() = PanelSetupDialog{};
    panelConfigDialog() = PanelConfigDialog{};
}

}  // namespace quorna
