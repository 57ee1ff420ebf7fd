#pragma once
// A meter simulator on COM1 with the program's link open on it, and a recording operator.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "bus/serial_link.h"
#include "meters/meter_model.h"
#include "meters/meter_state.h"
#include "metersim_harness.h"
#include "panel/panel_opener.h"
#include "recording_operator.h"

namespace quorna::test {

class PanelBusTest : public ::testing::Test {
protected:
    void SetUp() override { resetCoreState(); }
    void TearDown() override { resetCoreState(); }

    // Opens COM1 on the simulator, as the comms dialog's port button would.
    static void connect(const MeterSimulator& sim) {
        sim.useAsComPort(1);
        ASSERT_TRUE(selectPort("COM1:"));
    }
    // The scan found the meter and the operator picked it in the list.
    static void select(int address, int model) {
        meterDirectory()[static_cast<std::size_t>(address)] = model;
        selectedMeter().address = address;
        selectedMeter().model = model;
    }
    static std::vector<ReadRequest> reads(const MeterSimulator& sim) { return readRequests(sim.requests()); }

    RecordingOperator op;
};

inline bool operator==(const SimWrite& a, const SimWrite& b) {
    return a.address == b.address && a.reg == b.reg && a.value == b.value;
}
inline std::ostream& operator<<(std::ostream& os, const SimWrite& w) {
    return os << "{" << w.address << ", " << w.reg << ", 0x" << std::hex << w.value << std::dec << "}";
}

}  // namespace quorna::test
