#pragma once
// Menu commands that act on the selected meter. The openers of the setup windows live with
// those windows; the scan is MeterScan (meter_scan.h).

#include "meters/meters.h"

namespace quorna {

// Clears the selected meter's alarm status registers, then reads them back and shows the lamps.
// Tells the operator when no meter is selected; reports nothing else.
void resetMeterAlarms(Meters& meters);

}  // namespace quorna
