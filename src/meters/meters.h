#pragma once
// The meters on one bus: the directory of models by address, the "Available Meters" list and its
// selection, the meter being polled, the main window's readout, and the state of polling and
// scanning. A station owns one; the polling cycle, the scan, the commands and every setup window
// work on it.

#include <vector>

#include "bus/bus.h"
#include "meters/main_window_fields.h"
#include "meters/meter_list.h"
#include "meters/meter_model.h"

namespace quorna {

struct ConfigurationRecord;

struct SelectedMeter {
    int address = -1;               // Modbus address, -1 for none
    int model = kNoModel;           // named from the meter-list entry's text
};

// Where the scan under way stands: the address its next step asks, whether it has listed (and
// selected) a meter, whether its probe is out and its answer awaited, and how many scans asked for
// meanwhile follow it.
struct ScanProgress {
    int nextAddress = 0;
    bool found = false;
    bool probing = false;
    int waiting = 0;
};

struct Meters {
    Meters(Bus& bus, const ConfigurationRecord& settings) : bus(bus), op(bus.op()), settings(settings), list(bus.op()) {}
    Meters(const Meters&) = delete;
    Meters& operator=(const Meters&) = delete;

    Bus& bus;
    Operator& op;
    const ConfigurationRecord& settings;  // the scan depth, read afresh for every address asked
    MeterDirectory directory{};           // slave ID bytes the scan found, by address
    MeterList list;
    SelectedMeter selected;
    MainWindowFields fields;
    // Scale of a Circuit meter's currents and powers, from its range register 29 as the last good
    // poll of the meter at currentScaleAddress read it; 0 and -1 until the first good poll. A failed
    // poll leaves both as they were.
    float CurrentScale = 0.0F;
    int currentScaleAddress = -1;
    bool scanning = false;                // on while a scan runs: timer ticks do nothing meanwhile
    ScanProgress scan;
    int consecutiveFailures = 0;          // failed polls since the last good one, shared by all meters
    std::vector<int> garbledAddresses;    // probed in the last scan with a garbled answer; asked again
};

}  // namespace quorna
