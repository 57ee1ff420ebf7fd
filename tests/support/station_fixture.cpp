#include "station_fixture.h"

#include <cstdlib>

namespace quorna::test {

StationTest::~StationTest() {
    endStation();
    sim.reset();
    unsetenv("QUORNA_COM1");
}

MeterSimulator& StationTest::startBus(const std::vector<std::string>& meters, bool open,
                                      std::vector<std::string> options) {
    for (const auto& meter : meters) {
        options.push_back("--meter");
        options.push_back(meter);
    }
    sim = std::make_unique<MeterSimulator>(options);
    sim->useAsComPort(1);
    if (open) {
        EXPECT_TRUE(selectPort(station().bus, "COM1:"));
        sim->clearRequests();
    }
    return *sim;
}

}  // namespace quorna::test
