#pragma once
// The process-wide state of meter acquisition: the meter being polled and the bus counters.

#include "bus/modbus_master.h"
#include "meters/meter_model.h"

namespace quorna {

struct SelectedMeter {
    int address = -1;               // Modbus address, -1 for none
    int model = kNoModel;           // named from the meter-list entry's text
};
SelectedMeter& selectedMeter();

// Good and bad reads of the polling and logging cycles, and the code of the last failure.
struct BusStatistics {
    int goodReads = 0;
    int badReads = 0;
    ModbusError lastError = ModbusError::Ok;
};
BusStatistics& busStatistics();

// Failed polls since the last good one, shared by all meters.
extern int consecutiveFailures;

}  // namespace quorna
