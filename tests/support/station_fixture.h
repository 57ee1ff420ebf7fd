#pragma once
// The setting most tests tell their story in: a station from program start on an operator that
// records every message, and, once the test starts it, the meter simulator on a pseudo-terminal
// reached as "COM1:".

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "metersim_harness.h"
#include "recording_operator.h"
#include "spooled_station.h"
#include "station/station.h"

namespace quorna::test {

// How the test reaches the simulated meters: the pseudo-terminal, or a gateway the simulator
// serves beside it.
enum class PortKind { Serial, ModbusTcp, RtuOverTcp };
const char* portKindName(PortKind kind);

class StationTest : public ::testing::Test {
protected:
    // The station exists from construction, so that members of a test may refer to its parts.
    StationTest() { m_station.fresh(); }
    // The station goes first (its port closes), then the simulator.
    ~StationTest() override;

    // The test's station. A test that dropped it and made none since fails here.
    Station& station() { return m_station.get(); }
    // A restart: the station so far is destroyed first (its port closed), then a fresh one is
    // made on op and becomes the test's station.
    Station& freshStation() { return m_station.fresh(); }
    // Destroys the test's station: its port is closed.
    void dropStation() { m_station.drop(); }

    // Starts the simulator with the given meters ("3:230", ...) and further options, reached as
    // COM1: (through portKind), and opens COM1: on it unless open is false. The requests of the
    // opening are forgotten.
    MeterSimulator& startBus(const std::vector<std::string>& meters, bool open = true,
                             std::vector<std::string> options = {});

    RecordingOperator op;
    std::unique_ptr<MeterSimulator> sim;
    PortKind portKind = PortKind::Serial;

private:
    HeldStation m_station{op};
};

}  // namespace quorna::test
