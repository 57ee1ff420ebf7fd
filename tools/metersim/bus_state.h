// Everything on the simulated bus that commands can change: the meters by address, the
// faults they are told to show, and the defaults for meters added later.
#pragma once

#include "meter.h"
#include "transmitter.h"

#include <map>

namespace quorna::metersim {

struct BusState {
    std::map<int, Meter> meters;
    std::map<int, Fault> faults;   // by address; kept when a meter is replaced or removed
    bool driftForNewMeters = true;
    bool checkLineSettings = false;  // ignore requests sent at another speed or parity

    // Adds or replaces the meter at `address` with the model's realistic contents.
    Meter& addMeter(int address, int model)
    {
        meters.insert_or_assign(address, Meter(model, address));
        Meter& meter = meters.at(address);
        meter.setDrift(driftForNewMeters);
        return meter;
    }

    [[nodiscard]] Fault faultAt(int address) const
    {
        const auto it = faults.find(address);
        return it == faults.end() ? Fault{} : it->second;
    }
};

}  // namespace quorna::metersim
