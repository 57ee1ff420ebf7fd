#pragma once
// Meters on the simulator's pseudo-terminal, the port open on it as "COM1:", and an operator that
// records every message: the setting in which the alarm windows' stories are told.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "forms/alarms/alarm_windows.h"
#include "meters/main_window_fields.h"
#include "bus/serial_link.h"
#include "meters/meter_model.h"
#include "meters/meters.h"
#include "metersim_harness.h"
#include "station_fixture.h"

namespace quorna::test {

inline constexpr int kBranchAddress = 3;
inline constexpr int kOtherBranchAddress = 4;
inline constexpr int kCircuitAddress = 5;
inline constexpr int kOtherCircuitAddress = 6;

inline std::vector<std::string> writesAsText(const std::vector<SimWrite>& writes) {
    std::vector<std::string> texts;
    for (const auto& w : writes) {
        texts.push_back(std::to_string(w.address) + ":" + std::to_string(w.reg) + "=" + std::to_string(w.value));
    }
    return texts;
}

class AlarmBusTest : public StationTest {
protected:
    void SetUp() override {
        startBus({"3:230", "4:230", "5:236", "6:236"});
        ASSERT_TRUE(station().bus().link().portOpen);
        station().meters().recordSlaveId(kBranchAddress, kBranchMeter);
        station().meters().recordSlaveId(kOtherBranchAddress, kBranchMeter);
        station().meters().recordSlaveId(kCircuitAddress, kCircuitMeter6);
        station().meters().recordSlaveId(kOtherCircuitAddress, kCircuitMeter6);
    }

    void select(int address) {
        station().meters().setSelected(SelectedMeter{address, station().meters().modelAt(address)});
    }

    std::vector<std::string> writes() const { return writesAsText(sim->writes()); }
};

}  // namespace quorna::test
