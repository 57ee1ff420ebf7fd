#pragma once
// The bus scan that fills "Available Meters", and the selection of a listed meter.

namespace quorna {

// On while a scan runs: timer ticks do nothing meanwhile.
extern bool scanning;

// The addresses an entry picked in the meter list may have; any other is not polled.
inline constexpr int kFirstSelectableAddress = 1;
inline constexpr int kLastSelectableAddress = 63;

// Asks addresses 1 to the scan depth for their slave ID, lists the Branch and Circuit meters
// and selects the first one found. Returns at once when a scan already runs.
void MeterScan();

// The operator picked an entry of the meter list (MeterList::selection).
void selectMeter();

}  // namespace quorna
