// The logging cycle against simulated meters on a pseudo-terminal: every listed meter read at its
// own address once per moment, one line per Branch meter, the counters, and a log file that
// comes back after three missed moments.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "bus/serial_link.h"
#include "file_logging_fixture.h"
#include "meters/meter_list.h"
#include "meters/meters.h"
#include "metersim_harness.h"

namespace quorna::test {
namespace {

const char* const kBranchText = "Tamsa Branch Circuit Monitor, 42 breakers";

// A list entry as the scan makes it from a meter's answer.
MeterEntry entry(int address, const std::string& name, const std::string& deviceText) {
    return MeterEntry{address, modelFromDeviceText(deviceText), name, deviceText};
}

std::vector<ReadRequest> reads(const MeterSimulator& sim) { return readRequests(sim.requests()); }

class SamplerTest : public FileLoggingTest {
protected:
    void openSimulator(std::vector<std::string> meters) {
        sim = std::make_unique<MeterSimulator>(std::move(meters));
        sim->useAsComPort(1);
        ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
        sim->clearRequests();
    }
    void TearDown() override {
        FileLoggingTest::TearDown();
        sim.reset();
        unsetenv("QUORNA_COM1");
    }
    std::unique_ptr<MeterSimulator> sim;
};

TEST_F(SamplerTest, ABranchMetersLineHoldsExactlyItsCurrents) {
    openSimulator({"--meter", "1:230"});
    std::vector<int> registers;
    for (int i = 0; i < 42; ++i) registers.push_back((i + 1) * 250);
    registers[0] = 12340;
    registers[1] = 0;
    registers[2] = 65535;
    registers[3] = 1;
    sim->set(1, 0, registers);
    station().meters().list().insert(0, entry(1, "PNL1", kBranchText));
    enableFileLogging(logPath);
    clock = localTime(2002, 3, 7, 14, 15, 0);

    LoggingSampler(station().logging());

    EXPECT_EQ(fileText(logPath),
              "03/07/2002 14:15:00,1,12.340,0.000,65.535,0.001,1.250,1.500,1.750,2.000,2.250,2.500,2.750,3.000,"
              "3.250,3.500,3.750,4.000,4.250,4.500,4.750,5.000,5.250,5.500,5.750,6.000,6.250,6.500,6.750,7.000,"
              "7.250,7.500,7.750,8.000,8.250,8.500,8.750,9.000,9.250,9.500,9.750,10.000,10.250,10.500\r\n");
    EXPECT_EQ(reads(*sim), (std::vector<ReadRequest>{{1, 0, 49}}));
    EXPECT_EQ(station().bus().statistics().goodReads, 1);
    EXPECT_TRUE(station().logging().fileQueue().empty());
}

TEST_F(SamplerTest, TwoBranchMetersGiveTwoLinesWithOneTimeInListOrderEachWithItsOwnCurrents) {
    openSimulator({"--meter", "1:230", "--meter", "5:230"});
    sim->set(1, 0, {1000, 2000});
    sim->set(5, 0, {5000, 6000});
    station().meters().list().insert(0, entry(1, "PNL1", kBranchText));
    station().meters().list().insert(1, entry(5, "PNL5", kBranchText));
    enableFileLogging(logPath, kFormatTab);
    clock = localTime(2025, 1, 15, 10, 15, 0);

    LoggingSampler(station().logging());

    const auto lines = linesOf(fileText(logPath));
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0].substr(0, 34), "01/15/2025 10:15:00\t1\t1.000\t2.000\t");
    EXPECT_EQ(lines[1].substr(0, 34), "01/15/2025 10:15:00\t5\t5.000\t6.000\t");
    EXPECT_EQ(reads(*sim), (std::vector<ReadRequest>{{1, 0, 49}, {5, 0, 49}}));

    // Nothing more until the next moment; at it, each meter is read once again.
    sim->clearRequests();
    clock += 60;
    LoggingSampler(station().logging());
    EXPECT_TRUE(reads(*sim).empty());
    clock = localTime(2025, 1, 15, 10, 20, 0);
    LoggingSampler(station().logging());
    EXPECT_EQ(reads(*sim).size(), 2U);
    EXPECT_EQ(linesOf(fileText(logPath)).size(), 4U);
}

TEST_F(SamplerTest, TemperatureEnergyAndFullDataMetersAreReadButWriteNoLineCircuitAndHighAddressesAreNotRead) {
    openSimulator({"--meter", "1:230", "--meter", "2:600", "--meter", "3:8035", "--meter", "4:8036", "--meter", "7:236"});
    sim->command("setf 2 256 21.5");
    sim->command("setf 3 258 1234.5");
    sim->command("setf 3 260 -2.25");
    // A Full-Data meter's values lie in three pairs; the registers between them are no values.
    sim->command("setf 4 258 7.5");
    sim->command("setf 4 260 99.0");
    sim->command("setf 4 306 230.25");
    sim->command("setf 4 308 0.875");
    station().meters().list().insert(0, entry(1, "PNL1", kBranchText));
    station().meters().list().insert(1, entry(2, "", "Tamsa Temperature Sensor"));
    station().meters().list().insert(2, entry(3, "", "Tamsa Energy-Only Meter"));
    station().meters().list().insert(3, entry(4, "", "Tamsa Full-Data Meter"));
    station().meters().list().insert(4, entry(7, "MAIN", "Tamsa Circuit Meter 6, Rev B"));
    station().meters().list().insert(5, entry(248, "FAR", kBranchText));
    station().meters().list().showProgress({});  // the progress line is no meter
    // The file cannot be opened yet, and the spool cannot be written either, so the records stay
    // in memory where the test can see them.
    enableFileLogging(dir + "/later/plant.csv");
    station().logging().useStateDirectory(dir + "/no-folder/");

    LoggingSampler(station().logging());

    EXPECT_EQ(reads(*sim),
              (std::vector<ReadRequest>{{1, 0, 49}, {2, 256, 2}, {3, 258, 4}, {4, 258, 52}}));
    EXPECT_EQ(station().bus().statistics().goodReads, 4);
    EXPECT_EQ(station().bus().statistics().badReads, 0);

    // One record per logged entry with a valid address: the Circuit meter's record carries no readings.
    const auto& records = station().logging().fileQueue().records();
    ASSERT_EQ(records.size(), 5U);
    EXPECT_EQ(records[1]->model, 600);
    EXPECT_EQ(records[1]->values, std::vector<float>{21.5F});
    EXPECT_EQ(records[2]->model, 8035);
    EXPECT_EQ(records[2]->values, (std::vector<float>{1234.5F, -2.25F}));
    EXPECT_EQ(records[3]->model, 8036);
    EXPECT_EQ(records[3]->values, (std::vector<float>{7.5F, 230.25F, 0.875F}));
    EXPECT_EQ(records[4]->model, 0);
    EXPECT_EQ(records[4]->address, 7);

    // Once the file can be opened, only the Branch meter has a line.
    std::filesystem::create_directory(dir + "/later");
    FileLogWriter(station().logging());
    const auto lines = linesOf(fileText(dir + "/later/plant.csv"));
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].substr(20, 2), "1,");
}

TEST_F(SamplerTest, ASilentMeterCountsAsABadReadAndTheOthersAreStillLogged) {
    openSimulator({"--meter", "1:230", "--meter", "5:230"});
    sim->fault(1, "silent");
    station().meters().list().insert(0, entry(1, "PNL1", kBranchText));
    station().meters().list().insert(1, entry(5, "PNL5", kBranchText));
    enableFileLogging(logPath);

    LoggingSampler(station().logging());

    EXPECT_EQ(station().bus().statistics().badReads, 1);
    EXPECT_EQ(station().bus().statistics().goodReads, 1);
    EXPECT_EQ(station().bus().statistics().lastError, ModbusError::Timeout);
    const auto lines = linesOf(fileText(logPath));
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].substr(20, 2), "5,");
    EXPECT_TRUE(op.messages.empty());
}

// The station's tick begins the moment and its steps read one meter at a time, a silent one over
// many short steps; the lines reach the file together, once the last meter has been read, and are
// the lines of a moment run whole.
TEST_F(SamplerTest, ATicksMomentReadsItsMetersInStepsAndWritesItsLinesOnceAllAreRead) {
    openSimulator({"--meter", "1:230", "--meter", "5:230", "--meter", "9:230"});
    sim->set(1, 0, std::vector<int>(42, 1250));
    sim->set(9, 0, std::vector<int>(42, 2500));
    sim->fault(5, "silent");
    station().meters().list().insert(0, entry(1, "PNL1", kBranchText));
    station().meters().list().insert(1, entry(5, "PNL5", kBranchText));
    station().meters().list().insert(2, entry(9, "PNL9", kBranchText));
    enableFileLogging(logPath);
    // A moment run whole, which also opens the spool.
    LoggingSampler(station().logging());
    const std::string whole = fileText(logPath);
    const auto wholeLines = linesOf(whole);
    ASSERT_EQ(wholeLines.size(), 2U);
    EXPECT_EQ(wholeLines[0].substr(20, 2), "1,");
    EXPECT_EQ(wholeLines[1].substr(20, 2), "9,");

    sim->clearRequests();
    clock += 2 * 3600;
    station().tick();
    ASSERT_TRUE(station().tickUnderWay());
    int steps = 0;
    while (station().step()) {
        ++steps;
        if (station().tickUnderWay()) {
            EXPECT_EQ(fileText(logPath), whole) << "step " << steps;
        }
    }
    EXPECT_GE(steps, 10);
    const auto lines = linesOf(fileText(logPath).substr(whole.size()));
    ASSERT_EQ(lines.size(), 2U);
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].substr(19), wholeLines[i].substr(19));
    const auto asked = reads(*sim);
    ASSERT_EQ(asked.size(), 3U);
    EXPECT_EQ(asked[0].address, 1);
    EXPECT_EQ(asked[1].address, 5);
    EXPECT_EQ(asked[2].address, 9);
    EXPECT_EQ(station().bus().statistics().badReads, 2);
}

TEST_F(SamplerTest, AFileUnwritableForThreeMomentsGetsFourBlocksInTimeOrderAtTheFourth) {
    openSimulator({"--meter", "1:230", "--meter", "5:230"});
    station().meters().list().insert(0, entry(1, "PNL1", kBranchText));
    station().meters().list().insert(1, entry(5, "PNL5", kBranchText));
    const std::string folder = dir + "/share";
    const std::string path = folder + "/plant.csv";
    enableFileLogging(path);
    station().settings().loggingInterval = 15;
    clock = localTime(2025, 1, 15, 10, 0, 0);

    for (int moment = 0; moment < 3; ++moment) {
        LoggingSampler(station().logging());
        clock += 15 * 60;
    }
    EXPECT_EQ(recordsWaiting(station().logging()), 6U);
    std::filesystem::create_directory(folder);
    LoggingSampler(station().logging());

    const auto lines = linesOf(fileText(path));
    ASSERT_EQ(lines.size(), 8U);
    const char* const times[] = {"10:00:00", "10:15:00", "10:30:00", "10:45:00"};
    for (std::size_t block = 0; block < 4; ++block) {
        EXPECT_EQ(lines[2 * block].substr(11, 11), std::string(times[block]) + ",1,");
        EXPECT_EQ(lines[2 * block + 1].substr(11, 11), std::string(times[block]) + ",5,");
    }
    EXPECT_EQ(recordsWaiting(station().logging()), 0U);
}

}  // namespace
}  // namespace quorna::test
