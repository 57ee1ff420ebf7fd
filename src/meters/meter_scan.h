#pragma once
// The bus scan that fills "Available Meters", and the selection of a listed meter.

#include "meters/meters.h"

namespace quorna {

// The addresses an entry picked in the meter list may have: every address the scan may list, so
// that a listed meter is always polled and logged. Any other is not polled.
inline constexpr int kFirstSelectableAddress = 1;
inline constexpr int kLastSelectableAddress = 247;

// Asks addresses 1 to the scan depth for their slave ID, lists the Branch and Circuit meters
// and selects the first one found. Returns at once when a scan already runs. With the port closed
// it tries to open it once more and asks the operator to choose a port.
void MeterScan(Meters& meters);

// The operator picked an entry of the meter list (MeterList::selection).
void selectMeter(Meters& meters);

// Asks again, quietly, every address whose probe in the last scan got a garbled answer (a bad CRC,
// another address, a split frame) rather than silence: another master's answer may still have
// been on the line. A meter that now answers is listed in address order; an address that falls
// silent, or answers as something that is not listed, is asked no more. The logging cycle calls
// it at every logging moment until none is left.
void reprobeGarbledAddresses(Meters& meters);

}  // namespace quorna
