#pragma once
// The bus scan that fills "Available Meters", and the selection of a listed meter.

#include "meters/meters.h"

namespace quorna {

// The addresses an entry picked in the meter list may have; any other is not polled.
inline constexpr int kFirstSelectableAddress = 1;
inline constexpr int kLastSelectableAddress = 63;

// Asks addresses 1 to the scan depth for their slave ID, lists the Branch and Circuit meters
// and selects the first one found. Returns at once when a scan already runs. With the port closed
// it tries to open it once more and asks the operator to choose a port.
void MeterScan(Meters& meters);

// The operator picked an entry of the meter list (MeterList::selection).
void selectMeter(Meters& meters);

}  // namespace quorna
