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
    void SetUp() override {
        resetCoreState();
        resetPanelState();
    }
    void TearDown() override {
        resetCoreState();
        resetPanelState();
    }

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
    // Function-3 requests among those the simulator logged: {address, start, count}.
    static std::vector<std::array<int, 3>> reads(const MeterSimulator& sim) {
        std::vector<std::array<int, 3>> result;
        for (const SimRequest& r : sim.requests()) {
            if (r.bytes.size() == 8 && r.bytes[1] == 3) {
                result.push_back({r.bytes[0], r.bytes[2] * 256 + r.bytes[3], r.bytes[4] * 256 + r.bytes[5]});
            }
        }
        return result;
    }

    RecordingOperator op;
};

inline bool operator==(const SimWrite& a, const SimWrite& b) {
    return a.address == b.address && a.reg == b.reg && a.value == b.value;
}
inline std::ostream& operator<<(std::ostream& os, const SimWrite& w) {
    return os << "{" << w.address << ", " << w.reg << ", 0x" << std::hex << w.value << std::dec << "}";
}

}  // namespace quorna::test
