#include "station_fixture.h"

#include <cstdlib>

namespace quorna::test {

const char* portKindName(PortKind kind) {
    switch (kind) {
        case PortKind::Serial: return "Serial";
        case PortKind::ModbusTcp: return "ModbusTcp";
        case PortKind::RtuOverTcp: return "RtuOverTcp";
    }
    return "";
}

StationTest::~StationTest() {
    m_station.drop();
    sim.reset();
    unsetenv("QUORNA_COM1");
}

MeterSimulator& StationTest::startBus(const std::vector<std::string>& meters, bool open,
                                      std::vector<std::string> options) {
    for (const auto& meter : meters) {
        options.push_back("--meter");
        options.push_back(meter);
    }
    if (portKind != PortKind::Serial) {
        options.push_back(portKind == PortKind::ModbusTcp ? "--tcp" : "--rtu-tcp");
        options.push_back("0");
    }
    sim = std::make_unique<MeterSimulator>(options);
    if (portKind == PortKind::Serial) {
        sim->useAsComPort(1);
    } else {
        const std::string name = sim->gatewayName(portKind == PortKind::ModbusTcp ? "tcp://" : "rtu+tcp://");
        EXPECT_FALSE(name.empty()) << "the simulator printed no gateway";
        setenv("QUORNA_COM1", name.c_str(), 1);
    }
    if (open) {
        EXPECT_TRUE(selectPort(station().bus(), "COM1:"));
        sim->clearRequests();
    }
    return *sim;
}

}  // namespace quorna::test
