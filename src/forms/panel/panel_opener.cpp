#include "forms/panel/panel_opener.h"


namespace quorna {

PanelWindow choosePanelWindow(Meters& meters) {
    const int address = meters.selected().address;
    if (address <= 0) {
        meters.op().warning(kNoValidMeterToConfigure);
        return PanelWindow::None;
    }
    return directoryModel(meters.directory(), address) == kBranchMeter ? PanelWindow::PanelSetup : PanelWindow::PanelConfig;
}

}  // namespace quorna
