#pragma once
// The bus scan that fills "Available Meters", and the selection of a listed meter.

#include "meters/meters.h"

namespace quorna {

// The addresses an entry picked in the meter list may have: every address the scan may list, so
// that a listed meter is always polled and logged. Any other is not polled.
inline constexpr int kFirstSelectableAddress = 1;
inline constexpr int kLastSelectableAddress = 247;

// A scan asks addresses 1 to the scan depth for their slave ID, lists the Branch and Circuit
// meters and selects the first one found. With the port closed it tries to open it once more and
// asks the operator to choose a port.
//
// It runs a step at a time, so that the window repaints and answers between the addresses and
// the logger can stop between them: Meters::startScan begins one (or, while one runs, queues one
// to follow it), and each Meters::scanStep asks one address, until it returns false (false once
// no scan is under way or waiting). Meters::cancelScan ends the scan under way after the address
// last asked, and drops the queued ones: the list keeps what was found so far.
//
// Meters::beginReprobe and its steps ask again, quietly, every address whose probe in the last scan
// got a garbled answer (a bad CRC, another address, a split frame) rather than silence: another
// master's answer may still have been on the line. A meter that now answers is listed in address
// order; an address that falls silent, or answers as something that is not listed, is asked no
// more. The logging cycle does it at every logging moment until none is left.

// A whole scan at once: startScan, then every step.
void MeterScan(Meters& meters);

}  // namespace quorna
