// Two stations in one process, each with a simulated bus of its own and a Branch meter at the
// same address on each: everything one station shows, writes and logs comes from its own bus.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "meters/meter_commands.h"
#include "metersim_harness.h"
#include "recording_operator.h"
#include "station/station.h"

namespace quorna::test {
namespace {

constexpr int kMeterAddress = 1;

struct StationOnBus {
    StationOnBus(int comPort, int milliamps, const std::filesystem::path& logFile)
        : sim({"--meter", std::to_string(kMeterAddress) + ":230"}), station(op) {
        sim.useAsComPort(comPort);
        sim.set(kMeterAddress, 0, {milliamps});
        // What "Quorna.cfg" would hold: the port (opened by the first tick), one address to scan,
        // and a log file written every minute.
        station.bus().link().portName = "COM" + std::to_string(comPort) + ":";
        station.bus().link().reopenRequested = true;
        station.settings().scanDepth = kMeterAddress;
        station.settings().logFilePath = logFile.string();
        station.settings().fileLoggingEnabled = true;
        station.settings().loggingInterval = 1;
        station.logging().useClock([this] { return now; });
        // Each keeps its spool in a folder of its own, as two programs with their own settings do.
        const std::filesystem::path state = logFile.parent_path() / logFile.stem();
        std::filesystem::create_directories(state);
        station.logging().useStateDirectory(state.string() + "/");
    }

    MeterSimulator sim;
    RecordingOperator op;
    Station station;
    std::time_t now = 1'700'000'000;
};

std::vector<std::string> lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

TEST(TwoStations, EachShowsWritesAndLogsOnlyItsOwnMeters) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("quorna-two-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    StationOnBus a(1, 1234, dir / "a.csv");
    StationOnBus b(2, 5678, dir / "b.csv");

    // Three logging moments, a minute apart; the stations tick in turn.
    for (int moment = 0; moment < 3; ++moment) {
        a.station.PollingCycle();
        b.station.PollingCycle();
        a.now += 60;
        b.now += 60;
    }

    for (StationOnBus* s : {&a, &b}) {
        EXPECT_TRUE(s->op.messages.empty()) << s->op.messages.front().text;
        EXPECT_EQ(s->station.meters().selected().address, kMeterAddress);
        EXPECT_EQ(s->station.meters().directory()[kMeterAddress], kBranchMeter);
        EXPECT_EQ(s->station.bus().statistics().goodReads, 3) << "one read per logging moment";
    }
    EXPECT_EQ(a.station.meters().fields().breaker[0], "1.234");
    EXPECT_EQ(b.station.meters().fields().breaker[0], "5.678");

    // Each log holds one line per moment, with its own meter's current.
    for (const auto& [file, current] : {std::pair{dir / "a.csv", ",1,1.234,"}, std::pair{dir / "b.csv", ",1,5.678,"}}) {
        const auto logged = lines(file);
        ASSERT_EQ(logged.size(), 3U) << file;
        for (const auto& line : logged) EXPECT_NE(line.find(current), std::string::npos) << line;
    }

    // A reset on one station writes to its own meter only.
    a.sim.clearRequests();
    b.sim.clearRequests();
    resetMeterAlarms(a.station.meters());
    EXPECT_EQ(a.sim.writes().size(), 6U);
    EXPECT_TRUE(b.sim.writes().empty());
    EXPECT_TRUE(b.sim.requests().empty());

    // The trace of each bus holds its own exchanges.
    EXPECT_NE(a.station.bus().trace().text().find("Send->01 03 00 00 00 31"), std::string::npos);
    EXPECT_EQ(b.station.bus().trace().text().find("Send->01 06"), std::string::npos);

    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorna::test
