#pragma once
// A meter simulator on COM1 with the program's link open on it, and a recording operator.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "bus/serial_link.h"
#include "meters/meter_model.h"
#include "meters/meters.h"
#include "metersim_harness.h"
#include "forms/panel/panel_opener.h"
#include "station_fixture.h"

namespace quorna::test {

class PanelBusTest : public StationTest {
protected:
    // Opens COM1 on the simulator, as the comms dialog's port button would.
    void connect(const MeterSimulator& sim) {
        sim.useAsComPort(1);
        ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    }
    // The scan found the meter and the operator picked it in the list.
    void select(int address, int model) {
        station().meters().recordSlaveId(address, model);
        station().meters().setSelected(SelectedMeter{address, model});
    }
    static std::vector<ReadRequest> reads(const MeterSimulator& sim) { return readRequests(sim.requests()); }
};

inline bool operator==(const SimWrite& a, const SimWrite& b) {
    return a.address == b.address && a.reg == b.reg && a.value == b.value;
}
inline std::ostream& operator<<(std::ostream& os, const SimWrite& w) {
    return os << "{" << w.address << ", " << w.reg << ", 0x" << std::hex << w.value << std::dec << "}";
}

}  // namespace quorna::test
